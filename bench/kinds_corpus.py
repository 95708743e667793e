#!/usr/bin/env python3
"""How often the kinds are right, on real text this machine has.

usage: bench/kinds_corpus.py LIBRARY [--show KIND] [--peers]

LIBRARY is libcodepage_guess.so. The corpus is gathered from the installed
Vim and Emacs runtimes (tutors and menus in Japanese, in Latin-1, CP1250,
CP1251, KOI8, EUC-KR, GB2312 and Big5, and the same texts in UTF-8), Python's
CJK codec samples, the project's own samples, binaries and compressed files
from /usr, and the same texts re-encoded the ways Windows and DOS write them
(CP1252, CP437, CP850, UTF-16 and UTF-32 with their marks). Each file is
taken whole and as fragments of 1, 2, 4 and 16 lines, and short Japanese and
Latin phrases are set in source-code comments, as legacy trees hold them.

Prints, for each true kind, how the files were called, and the figures the
README quotes. --show KIND lists the files of that true kind called wrongly;
--peers adds what nkf --guess and uchardet say of the Shift_JIS questions.
"""
import argparse
import ctypes
import glob
import os
import random
import shutil
import subprocess
import sys
from collections import Counter, defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KINDS = ["empty", "ascii", "utf-8", "utf-16le", "utf-16be", "utf-32le", "utf-32be",
         "shift_jis", "euc-jp", "iso-2022-jp", "mixed", "binary", "unknown"]


class Description(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("flags", ctypes.c_uint32),
                ("kind", ctypes.c_uint32), ("code_page", ctypes.c_int32),
                ("rule", ctypes.c_uint32), ("bom", ctypes.c_uint32),
                ("ambiguous", ctypes.c_uint32), ("reserved", ctypes.c_uint32),
                ("examined", ctypes.c_uint64), ("utf8_line", ctypes.c_uint64),
                ("sjis_line", ctypes.c_uint64), ("score", ctypes.c_double)]


def describer(library):
    lib = ctypes.CDLL(library)
    lib.cpg_describe.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(Description)]

    def describe(data):
        d = Description()
        d.size = ctypes.sizeof(d)
        if lib.cpg_describe(data, len(data), ctypes.byref(d)) != 0:
            raise RuntimeError("cpg_describe failed")
        return KINDS[d.kind], d
    return describe


def read(path, limit=1 << 20):
    try:
        with open(path, "rb") as f:
            return f.read(limit)
    except OSError:
        return None


def first(pattern):
    found = sorted(glob.glob(pattern))
    return found[0] if found else None


def vim_runtime():
    return first("/usr/share/vim/vim[0-9]*")


def emacs_etc():
    return first("/usr/share/emacs/[0-9]*/etc")


def python_cjk():
    import test  # noqa: F401  (the test package holds the samples)
    return os.path.join(os.path.dirname(test.__file__), "cjkencodings")


def texts():
    """(true kind, name, bytes, encoding of the text or None)."""
    vim, emacs = vim_runtime(), emacs_etc()
    out = []

    def add(kind, path, data=None, codec=None):
        data = read(path) if data is None else data
        if data:
            out.append((kind, path, data, codec))

    japanese_utf8 = []
    if vim:
        add("shift_jis", f"{vim}/tutor/tutor.ja.sjis", codec="cp932")
        add("euc-jp", f"{vim}/tutor/tutor.ja.euc", codec="euc_jp")
        add("utf-8", f"{vim}/tutor/tutor.ja.utf-8", codec="utf-8")
        add("shift_jis", f"{vim}/lang/menu_ja_jp.cp932.vim", codec="cp932")
        add("euc-jp", f"{vim}/lang/menu_ja_jp.euc-jp.vim", codec="euc_jp")
        japanese_utf8 += [read(f"{vim}/tutor/tutor.ja.utf-8"), read(f"{vim}/lang/menu_ja_jp.utf-8.vim")]
        latin = {"latin1": "latin-1", "1252": "cp1252", "cp1250": "cp1250", "iso_8859-2": "iso8859-2",
                 "cp1251": "cp1251", "koi8-r": "koi8-r", "koi8-u": "koi8-u", "cp1254": "cp1254",
                 "iso_8859-9": "iso8859-9", "iso_8859-5": "iso8859-5", "latin2": "iso8859-2"}
        for path in sorted(glob.glob(f"{vim}/lang/menu_*.vim")):
            codec = path.rsplit(".", 2)[-2]
            if codec in latin:
                add("unknown", path, codec=latin[codec])
            elif codec in ("big5", "cp950", "gb2312", "cp936", "gbk", "18030", "euckr"):
                add("unknown", path, codec={"18030": "gb18030", "euckr": "euc-kr"}.get(codec, codec))
            elif codec == "utf-8":
                add("utf-8", path, codec="utf-8")
        for path in sorted(glob.glob(f"{vim}/tutor/tutor.*")):
            name = os.path.basename(path)
            parts = name.split(".")
            if len(parts) == 2 and parts[1] not in ("ja", "ko", "zh", "ru", "el", "bar", "vim"):
                add("unknown", path, codec="latin-1")  # the plain tutors are Latin-1
            elif name.endswith(".utf-8"):
                add("utf-8", path, codec="utf-8")
            elif name.endswith((".cp1250", ".cp1251", ".cp737")):
                add("unknown", path, codec=parts[-1])
            elif name in ("tutor.ko.euc",):
                add("unknown", path, codec="euc-kr")
    cjk = None
    try:
        cjk = python_cjk()
    except ImportError:
        pass
    if cjk and os.path.isdir(cjk):
        for name, kind, codec in [("shift_jis", "shift_jis", "shift_jis"),
                                  ("euc_jp", "euc-jp", "euc_jp"),
                                  ("iso2022_jp", "iso-2022-jp", "iso2022_jp"),
                                  ("gb2312", "unknown", "gb2312"), ("big5", "unknown", "big5"),
                                  ("euc_kr", "unknown", "euc_kr")]:
            add(kind, os.path.join(cjk, name + ".txt"), codec=codec)
        japanese_utf8.append(read(os.path.join(cjk, "shift_jis-utf8.txt")))
    if emacs:
        tutorial = read(f"{emacs}/tutorials/TUTORIAL.ja")
        if tutorial:
            add("iso-2022-jp", f"{emacs}/tutorials/TUTORIAL.ja", codec="iso2022_jp")
            japanese_utf8.append(tutorial.decode("iso2022_jp", "replace").encode())
        for path in sorted(glob.glob(f"{emacs}/tutorials/TUTORIAL.*")):
            if not path.endswith((".ja", ".translators")):
                add("utf-8", path, codec="utf-8")
    add("utf-8", os.path.join(ROOT, "examples", "japanese_utf8.txt"), codec="utf-8")
    add("shift_jis", os.path.join(ROOT, "examples", "japanese_sjis.txt"), codec="cp932")
    japanese_utf8.append(read(os.path.join(ROOT, "tests", "trees", "japanese.txt")))

    # The same Japanese the ways Windows and older Unix wrote it.
    for k, data in enumerate(d for d in japanese_utf8 if d):
        text = data.decode("utf-8", "replace").replace("\ufffd", "")
        for kind, codec in [("shift_jis", "cp932"), ("euc-jp", "euc_jp"),
                            ("iso-2022-jp", "iso2022_jp")]:
            try:
                out.append((kind, f"japanese[{k}] as {codec}", text.encode(codec, "ignore"), codec))
            except LookupError:
                pass
        for kind, codec, mark in [("utf-16le", "utf-16-le", b"\xff\xfe"),
                                  ("utf-16be", "utf-16-be", b"\xfe\xff"),
                                  ("utf-32le", "utf-32-le", b"\xff\xfe\x00\x00")]:
            out.append((kind, f"japanese[{k}] as {codec}", mark + text.encode(codec), None))
        out.append(("utf-8", f"japanese[{k}] with a mark", b"\xef\xbb\xbf" + text.encode(), None))
    # Western text the ways Windows and DOS wrote it.
    western = [p for p in glob.glob(f"{vim}/tutor/tutor.*.utf-8") if vim and
               os.path.basename(p).split(".")[1] in ("de", "fr", "es", "it", "da", "nl", "pt",
                                                    "sv", "nb", "no", "ca", "eo", "cs", "hu",
                                                    "pl", "hr")]
    if emacs:
        western += [f"{emacs}/tutorials/TUTORIAL.{x}" for x in ("de", "fr", "es", "it", "nl", "sv",
                                                                "pt_BR", "cs", "pl", "sk", "sl", "ro")]
    for path in sorted(western):
        data = read(path)
        if not data:
            continue
        text = data.decode("utf-8", "replace")
        for codec in ("cp1252", "cp437", "cp850", "latin-1", "cp1250", "iso8859-2"):
            try:
                encoded = text.encode(codec)
            except UnicodeEncodeError:
                continue
            out.append(("unknown", f"{path} as {codec}", encoded, codec))
    return out


def fragments(items, rng):
    """Whole files and windows of lines with something beyond ASCII in them."""
    for kind, name, data, codec in items:
        yield kind, name, data
        if kind in ("utf-16le", "utf-16be", "utf-32le", "utf-32be") or codec is None and kind != "utf-8":
            continue
        lines = data.split(b"\n")
        wanted = 40 if kind in ("shift_jis", "euc-jp", "iso-2022-jp") else 6
        for size in (1, 2, 4, 16):
            picked = 0
            for _ in range(10 * wanted):
                if picked == wanted or len(lines) < size:
                    break
                at = rng.randrange(0, len(lines) - size + 1)
                piece = b"\n".join(lines[at:at + size]) + b"\n"
                if kind == "iso-2022-jp":
                    if b"\x1b$" not in piece:
                        continue
                    # A window of ISO-2022-JP starts in ASCII: decode and encode it again.
                    try:
                        piece = piece.decode(codec).encode(codec)
                    except (UnicodeDecodeError, UnicodeEncodeError):
                        continue
                elif max(piece, default=0) < 0x80:
                    continue
                picked += 1
                yield kind, f"{name} lines {at + 1}-{at + size}", piece


def phrases(rng):
    """Short Japanese and Latin in the places legacy trees hold them."""
    japanese = read(os.path.join(ROOT, "tests", "trees", "japanese.txt")).decode()
    def kana_or_kanji(c):
        return 0x3041 <= ord(c) <= 0x30FF or 0x4E00 <= ord(c) <= 0x9FFF or 0xFF66 <= ord(c) <= 0xFF9F
    words = [w for w in "".join(c if kana_or_kanji(c) else " " for c in japanese).split() if w]
    words += ["吉里吉里", "窓", "設定", "最大粒子数", "初期化", "終了", "東京", "ファイル", "読み込み"]
    latin = []
    vim = vim_runtime()
    for path in glob.glob(f"{vim}/tutor/tutor.*.utf-8") if vim else []:
        if os.path.basename(path).split(".")[1] in ("de", "fr", "es", "it", "pt", "sv", "da", "nl"):
            text = read(path).decode("utf-8", "replace")
            latin += [w for w in text.split() if any(0xC0 <= ord(c) <= 0xFF for c in w)
                      and all(ord(c) <= 0xFF for c in w)]
    templates = ["// {}\n", "# {}\n", "int x = 0; /* {} */\n", "{}\n", "title = \"{}\"\n",
                 "<p>{}</p>\n", "; {}\r\n", "REM {}\r\n", "  printf(\"{}\\n\");\n", "{} {}\n"]
    out = []
    for _ in range(3000):
        template = rng.choice(templates)
        n = template.count("{}")
        jp = template.format(*(rng.choice(words)[:rng.randint(1, 8)] for _ in range(n)))
        out.append(("shift_jis", f"phrase {jp!r}", jp.encode("cp932")))
        if latin:
            la = template.format(*(rng.choice(latin) for _ in range(n)))
            for codec in ("latin-1", "cp1252", "cp437"):
                try:
                    out.append(("unknown", f"phrase {la!r} as {codec}", la.encode(codec)))
                except UnicodeEncodeError:
                    pass
    return out


def binaries(rng):
    out = []
    candidates = sorted(glob.glob("/usr/bin/*"))[:400] + sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*"))[:200]
    candidates += sorted(glob.glob("/usr/share/locale/ja/LC_MESSAGES/*.mo"))[:100]
    candidates += sorted(glob.glob("/usr/share/doc/*/changelog*.gz"))[:200]
    candidates += sorted(glob.glob("/usr/share/icons/**/*.png", recursive=True))[:200]
    for path in candidates:
        if os.path.isfile(path) and not os.path.islink(path):
            data = read(path, 1 << 16)
            if data and data[:2] != b"#!":
                out.append(("binary", path, data))
    return out


CODECS = {"shift_jis": "cp932", "euc-jp": "euc_jp", "utf-8": "utf-8", "iso-2022-jp": "iso2022_jp"}


def truth_of(kind, data):
    if not data:
        return "empty"
    if kind in CODECS:
        try:
            data.decode(CODECS[kind])
        except UnicodeDecodeError:
            return "unknown"  # what the file's name promises is not what it holds
    if kind in ("shift_jis", "euc-jp", "utf-8", "unknown") and max(data) < 0x80:
        return "ascii"
    return kind


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("library")
    parser.add_argument("--show", action="append", default=[])
    parser.add_argument("--peers", action="store_true")
    args = parser.parse_args()
    describe = describer(args.library)
    rng = random.Random(23)
    corpus = [(truth_of(k, d), n, d) for k, n, d in fragments(texts(), rng)]
    corpus += [(truth_of(k, d), n, d) for k, n, d in phrases(rng)]
    corpus += binaries(rng)

    table = defaultdict(Counter)
    wrong = defaultdict(list)
    for truth, name, data in corpus:
        said, d = describe(data)
        if truth == "binary" and said != "binary" and 0 not in data[:8192]:
            truth = "unknown"  # a binary without NUL bytes early cannot be told from text
        table[truth][said] += 1
        if said != truth:
            wrong[truth].append((name, said, d.score))

    print(f"{len(corpus)} files and fragments\n")
    print("| true kind | files | right | called otherwise |")
    print("|---|---|---|---|")
    for truth in KINDS:
        if truth not in table:
            continue
        row = table[truth]
        total = sum(row.values())
        others = ", ".join(f"{k} {n}" for k, n in row.most_common() if k != truth)
        print(f"| {truth} | {total} | {row[truth]} ({100 * row[truth] / total:.1f}%) | {others} |")
    total = sum(sum(r.values()) for r in table.values())
    right = sum(r[t] for t, r in table.items())
    sjis = table["shift_jis"]
    false_sjis = sum(r["shift_jis"] for t, r in table.items() if t != "shift_jis")
    print(f"\nright: {right} of {total} ({100 * right / total:.2f}%)")
    print(f"Shift_JIS called shift_jis: {sjis['shift_jis']} of {sum(sjis.values())} "
          f"({100 * sjis['shift_jis'] / sum(sjis.values()):.2f}%)")
    print(f"other files called shift_jis: {false_sjis} of {total - sum(sjis.values())}")
    if args.peers:
        print("\nThe same question of each peer, given the same bytes: is it Shift_JIS?")
        print("| detector | Shift_JIS called Shift_JIS | others called Shift_JIS |")
        print("|---|---|---|")
        sjis_total = sum(1 for t, _, _ in corpus if t == "shift_jis")
        others_total = len(corpus) - sjis_total
        ours_hits = sum(table["shift_jis"]["shift_jis"] for _ in [0])
        print(f"| codepage_guess kinds | {ours_hits} of {sjis_total} | {false_sjis} of {others_total} |")
        verdict_hits = verdict_false = 0
        for truth, _, data in corpus:
            _, d = describe(data)
            if d.code_page == 932:
                if truth == "shift_jis":
                    verdict_hits += 1
                else:
                    verdict_false += 1
        print(f"| codepage-guess verdict | {verdict_hits} of {sjis_total} | {verdict_false} of {others_total} |")
        for name, command, is_sjis in [
                ("nkf --guess", ["nkf", "--guess"], lambda out: out.startswith(b"Shift_JIS") or out.startswith(b"CP932")),
                ("uchardet", ["uchardet"], lambda out: out.strip().upper() in (b"SHIFT_JIS", b"WINDOWS-31J", b"CP932"))]:
            if shutil.which(command[0]) is None:
                continue
            hits = false = 0
            for truth, _, data in corpus:
                out = subprocess.run(command, input=data, capture_output=True).stdout
                if is_sjis(out):
                    if truth == "shift_jis":
                        hits += 1
                    else:
                        false += 1
            print(f"| {name} | {hits} of {sjis_total} | {false} of {others_total} |")

    by_size = defaultdict(Counter)
    for truth, name, data in corpus:
        if truth in ("shift_jis", "unknown"):
            said, _ = describe(data)
            size = name.split(" lines ")[-1] if " lines " in name else ("phrase" if name.startswith("phrase") else "whole")
            if "-" in size:
                a, b = size.split("-")
                size = f"{int(b) - int(a) + 1} lines"
            by_size[(truth, size)][said == "shift_jis"] += 1
    print("\n| true kind, piece | called shift_jis |")
    print("|---|---|")
    for (truth, size), row in sorted(by_size.items()):
        print(f"| {truth}, {size} | {row[True]} of {row[True] + row[False]} |")
    for kind in args.show:
        print(f"\n{kind} called otherwise:")
        for name, said, score in wrong[kind][:80]:
            print(f"  {said:12} score {score:.3f}  {name[:110]}")


if __name__ == "__main__":
    main()
