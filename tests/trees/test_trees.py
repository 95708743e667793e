#!/usr/bin/env python3
"""codepage-scan and codepage-convert on a generated tree, end to end.

usage: test_trees.py --guess EXE --scan EXE --convert EXE [--launcher CMD]...
                     [--windows] [unittest options]

The tree holds Japanese text in both encodings (short files, half-width
katakana, backslash and tilde, CP932 extension characters, NEC and IBM
duplicates, CRLF, more than 1 MiB), Latin-1, EUC-JP, UTF-16, binary and empty
files, symbolic links and a loop of them, a FIFO, hard links, and names with
spaces, newlines and bytes that are not UTF-8. Every file is made here from
tests/trees/japanese.txt, with iconv for the encodings Windows writes.
"""
import argparse
import base64
import functools
import json
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--guess", required=True)
    parser.add_argument("--scan", required=True)
    parser.add_argument("--convert", required=True)
    parser.add_argument("--launcher", action="append", default=[])
    parser.add_argument("--windows", action="store_true")
    return parser.parse_known_args()


ARGS, UNITTEST_ARGS = arguments()
POSIX_ONLY = unittest.skipIf(ARGS.windows, "POSIX: links, FIFOs, signals, mounts")


@functools.lru_cache(maxsize=None)
def iconv(data, source, target):
    """glibc's conversion, once for each distinct input: the trees repeat
    their files' contents many times over."""
    return subprocess.run(["iconv", "-f", source, "-t", target], input=data,
                          capture_output=True, check=True).stdout


def cp932(text):
    """Text in Shift_JIS as Windows writes it (髙 as FBFC, ～ as 8160)."""
    return iconv(text.encode("utf-8"), "UTF-8", "CP932")


JAPANESE = open(os.path.join(HERE, "japanese.txt"), encoding="utf-8").read()
PARAGRAPHS = [p for p in JAPANESE.split("\n\n") if p.strip()]


def make_tree(root, windows=False):
    """Writes the tree; returns {relative path (bytes): True if it must be
    converted, False if it must stay as it is} for its regular files."""
    expected = {}

    def put(name, data, convert):
        path = os.path.join(os.fsencode(root), name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        expected[name] = convert
        return path

    text = cp932(JAPANESE)
    put(b"sjis/text.txt", text, True)
    put(b"sjis/text_crlf.txt", text.replace(b"\n", b"\r\n"), True)
    for k, paragraph in enumerate(PARAGRAPHS):
        put(b"sjis/paragraph_%d.txt" % k, cp932(paragraph + "\n"), True)
    put(b"sjis/backslash_tilde.txt", cp932(PARAGRAPHS[1] + "\nC:\\Users\\tanaka ~/memo\n"), True)
    put(b"sjis/extensions.txt", cp932(PARAGRAPHS[2] + "\n①②③ ㈱ ㈲ 髙橋 ～ ＼ ∵\n"), True)
    big = text * (1 + (3 << 20) // len(text))
    put(b"sjis/big.txt", big, True)
    # Valid for its first mebibyte, broken after it.
    cut = big.index(b"\n", (1 << 20) + 4000) + 1
    put(b"sjis/broken_after_1MiB.txt", big[:cut] + b"\x85\x40" + big[:5000], False)
    put(b"sjis/short.txt", cp932("時代"), True)  # short, but kanji and nothing of a Latin word
    # The NEC-selected IBM extension for 髙 (Windows writes FBFC), a NEC row 13
    # duplicate of ≒ (81E0): neither would convert back byte for byte.
    put(b"sjis/duplicate_nec_ibm.txt", cp932(PARAGRAPHS[1]) + b"\xee\xe0\n", False)
    put(b"sjis/duplicate_row13.txt", cp932(PARAGRAPHS[1]) + b"\x87\x90\n", False)
    put(b"sjis/undefined_code.txt", cp932(PARAGRAPHS[1]) + b"\x85\x40\n", False)
    put(b"sjis/with_nul_byte.txt", cp932(PARAGRAPHS[1]) + b"\x00\n", False)
    for k, paragraph in enumerate(PARAGRAPHS[:3]):
        put(b"utf8/paragraph_%d.txt" % k, (paragraph + "\n").encode(), False)
    put(b"utf8/short.txt", "時代".encode(), False)
    put(b"utf8/cafe.txt", "café crème, voilà\n".encode(), False)
    put(b"utf8/cafe_creme.txt", "café crème\n".encode(), False)  # valid Shift_JIS as well
    put(b"other/latin1.txt", "café crème, À LA CARTE, Größe\n".encode("latin-1"), False)
    put(b"other/latin1_valid_sjis.txt", "ÉTÉ ÉCOLE ÀÉÈÇ ÎLE\n".encode("latin-1"), False)
    put(b"other/eucjp.txt", iconv("\n\n".join(PARAGRAPHS[:5]).encode(), "UTF-8", "EUC-JP"), False)
    put(b"other/utf16.txt", b"\xff\xfe" + JAPANESE.encode("utf-16-le"), False)
    rng = random.Random(5)
    put(b"other/binary.bin", bytes(rng.randrange(256) for _ in range(5000)), False)
    put(b"other/png.bin", b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + bytes(64), False)
    put(b"other/empty.txt", b"", False)
    put(b"other/ascii.txt", b"plain ASCII\n", False)
    # A UTF-8 line pasted into Shift_JIS: valid Shift_JIS as a whole.
    pasted = "// 更新: 修正しました\n".encode()
    put(b"mixed/utf8_line.txt", cp932(PARAGRAPHS[1] + "\n") + pasted + cp932(PARAGRAPHS[2]), False)
    put(b"mixed/utf8_line_after_1MiB.txt", big[:cut] + pasted + cp932(PARAGRAPHS[2]), False)
    # ASCII for the first mebibyte, Shift_JIS after it.
    ascii_first = b"ascii text\n" * (1 + (1 << 20) // 11)
    put(b"sjis/after_1MiB_of_ascii.txt", ascii_first + cp932(JAPANESE), True)
    put(b"names/with space.txt", cp932(PARAGRAPHS[3]), True)
    put("names/日本語の名前.txt".encode(), cp932(PARAGRAPHS[4]), True)
    if not windows:
        put(b"names/new\nline.txt", cp932(PARAGRAPHS[3]), True)
        put(b"names/\x83e\x83X\x83g.txt", cp932(PARAGRAPHS[4]), True)  # テスト in Shift_JIS
        linked = put(b"links/hard_a.txt", cp932(PARAGRAPHS[2]), False)
        os.link(linked, os.path.join(os.fsencode(root), b"links/hard_b.txt"))
        expected[b"links/hard_b.txt"] = False
        os.symlink("../sjis/text.txt", os.path.join(root, "links", "to_file.txt"))
        os.symlink("../sjis", os.path.join(root, "links", "to_dir"))
        os.symlink("nowhere.txt", os.path.join(root, "links", "dangling.txt"))
        os.makedirs(os.path.join(root, "links", "loop"))
        os.symlink("..", os.path.join(root, "links", "loop", "up"))
        os.mkfifo(os.path.join(root, "special_fifo"))
        mode_file = os.path.join(root, "sjis", "paragraph_0.txt")
        os.chmod(mode_file, 0o750)
    return expected


TEMPORARY = rb"^\.codepage-convert-[0-9a-f]{16}\.tmp$"
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
AS_ROOT_WITH_SETPRIV = unittest.skipIf(
    ARGS.windows or os.geteuid() != 0 or shutil.which("setpriv") is None,
    "needs root, setpriv and a POSIX program")


def temporary_files(root):
    found = []
    for directory, _, names in os.walk(os.fsencode(root)):
        found += [os.path.join(directory, n) for n in names if n.startswith(b".codepage-convert-")]
    return found


def regular_files(root):
    """Relative paths of the regular files, links not followed."""
    found = set()
    for directory, _, names in os.walk(os.fsencode(root)):
        for name in names:
            path = os.path.join(directory, name)
            if stat.S_ISREG(os.lstat(path).st_mode):
                found.add(os.path.relpath(path, os.fsencode(root)))
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(root):
    return {name: read(os.path.join(os.fsencode(root), name)) for name in regular_files(root)}


def run(program, *args, stdin=None, cwd=None, check=True, user=None):
    command = list(ARGS.launcher) + [program] + list(args)
    if user:
        command = user + command
    result = subprocess.run(command, input=stdin, capture_output=True, cwd=cwd, timeout=300)
    if check and result.returncode not in (0, 1):
        raise AssertionError(f"{command}: status {result.returncode}\n{result.stderr.decode()}")
    return result


def json_lines(output):
    entries = []
    for line in output.decode("utf-8").splitlines():
        entry = json.loads(line)
        if "path_bytes" in entry:
            entry["raw"] = base64.b64decode(entry["path_bytes"])
        else:
            entry["raw"] = entry["path"].encode("utf-8")
        if ARGS.windows:
            entry["raw"] = entry["raw"].replace(b"\\", b"/")
        entries.append(entry)
    return entries


def relative(root, raw):
    return os.path.relpath(raw, os.fsencode(root))


class Tree(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="codepage_trees_")
        self.root = os.path.join(self.work, "tree")
        os.makedirs(self.root)
        self.expected = make_tree(self.root, ARGS.windows)

    def tearDown(self):
        self.doCleanups()
        for directory, names, _ in os.walk(self.work):
            for name in names:
                os.chmod(os.path.join(directory, name), 0o755)
        shutil.rmtree(self.work)

    def converted(self, before, name):
        return iconv(before[name], "CP932", "UTF-8")

    def check_tree(self, before, allow_partial=False):
        """Every file is its original or, if it was to be converted, its
        conversion; returns how many were converted."""
        after = snapshot(self.root)
        done = 0
        for name, data in before.items():
            if allow_partial and name not in after:
                self.fail(f"{name} is gone")
            if data == after[name]:
                continue
            self.assertTrue(self.expected[name], f"{name} changed but should not have")
            self.assertEqual(after[name], self.converted(before, name), name)
            self.assertEqual(iconv(after[name], "UTF-8", "CP932"), data, f"{name} does not go back")
            done += 1
        left = set(after) - set(before)
        self.assertTrue(allow_partial or not left, f"files left behind: {left}")
        for name in left:
            self.assertRegex(os.path.basename(name), TEMPORARY)
        return done


class Scan(Tree):
    def test_every_verdict_is_the_tools(self):
        result = run(ARGS.scan, "--json", "-j", "3", "tree", cwd=self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        entries = json_lines(result.stdout)
        seen = set()
        for entry in entries:
            name = relative("tree", entry["raw"])
            if "skipped" in entry:
                continue
            self.assertNotIn("error", entry)
            seen.add(name)
            guess = run(ARGS.guess, entry["raw"], cwd=self.work, check=False)
            if entry["rule"] == "empty":
                self.assertEqual(guess.returncode, 1, name)
                continue
            self.assertEqual(guess.returncode, 0, name)
            said = guess.stdout.decode().strip()
            expected = f"code.page={entry['code_page']}" if entry["code_page"] else ""
            self.assertEqual(said, expected, name)
        self.assertEqual(seen, regular_files(self.root))
        if not ARGS.windows:
            skipped = {relative("tree", e["raw"]): e["skipped"] for e in entries if "skipped" in e}
            self.assertEqual(skipped[b"special_fifo"], "FIFO")
            self.assertEqual(skipped[b"links/to_file.txt"], "symbolic link, not followed")

    def test_says_what_each_file_is_beside_the_verdict(self):
        result = run(ARGS.scan, "--json", "tree", cwd=self.work)
        entries = {relative("tree", e["raw"]): e for e in json_lines(result.stdout)}
        expected = {
            b"sjis/text.txt": ("shift_jis", False, False),
            b"sjis/short.txt": ("shift_jis", False, False),
            b"sjis/with_nul_byte.txt": ("binary", False, False),
            b"utf8/paragraph_0.txt": ("utf-8", False, None),  # Japanese UTF-8 is often valid Shift_JIS
            b"utf8/cafe_creme.txt": ("utf-8", False, True),  # é read as half-width katakana
            b"other/latin1.txt": ("unknown", False, False),
            b"other/latin1_valid_sjis.txt": ("unknown", False, False),
            b"other/eucjp.txt": ("euc-jp", False, False),
            b"other/utf16.txt": ("utf-16le", True, False),
            b"other/binary.bin": ("binary", False, False),
            b"other/png.bin": ("binary", False, False),
            b"other/empty.txt": ("empty", False, False),
            b"other/ascii.txt": ("ascii", False, False),
            b"mixed/utf8_line.txt": ("mixed", False, False),
            # The scan reads the first mebibyte, as codepage-guess does.
            b"mixed/utf8_line_after_1MiB.txt": ("shift_jis", False, False),
        }
        for name, (kind, bom, ambiguous) in expected.items():
            entry = entries[name]
            if ambiguous is None:
                ambiguous = entry["ambiguous"]
            self.assertEqual((entry["kind"], entry["bom"], entry["ambiguous"]), (kind, bom, ambiguous),
                             name)
        self.assertEqual(entries[b"mixed/utf8_line.txt"]["utf8_line"], 2)
        self.assertEqual(entries[b"utf8/cafe_creme.txt"]["code_page"], 932)  # the verdict, unchanged
        human = run(ARGS.scan, "tree/utf8/cafe_creme.txt", "tree/other/utf16.txt", "tree/mixed",
                    cwd=self.work).stdout.decode().replace("\\", "/").splitlines()
        self.assertEqual(human[0],
                         "tree/utf8/cafe_creme.txt: UTF-8, also valid Shift_JIS (codepage-guess: 932)")
        self.assertEqual(human[1], "tree/other/utf16.txt: UTF-16LE (BOM) (codepage-guess: 932)")
        self.assertTrue(human[2].startswith(
            "tree/mixed/utf8_line.txt: mixed UTF-8 and Shift_JIS (codepage-guess: 932), UTF-8 from line 2"), human[2])

    def test_output_is_in_the_order_of_the_walk_whatever_the_threads(self):
        for form in ([], ["--json"]):
            outputs = {run(ARGS.scan, *form, "-j", jobs, "tree", cwd=self.work).stdout
                       for jobs in ("1", "2", "7")}
            self.assertEqual(len(outputs), 1, form)
        names = [e["raw"] for e in json_lines(outputs.pop())]
        self.assertEqual(names, sorted(names, key=lambda n: n.split(b"/")))
        self.assertEqual(len(names), len(set(names)))

    def test_paths_separated_by_nul_bytes(self):
        listed = sorted(self.expected)[:12] + [b"sjis"]
        result = run(ARGS.scan, "-0", "--json", cwd=self.root, stdin=b"\0".join(listed) + b"\0")
        named = [e["raw"] for e in json_lines(result.stdout)]
        self.assertEqual(named[:12], listed[:12])
        self.assertTrue(all(n.startswith(b"sjis/") for n in named[12:]))
        self.assertEqual(len(named), 12 + len([n for n in self.expected if n.startswith(b"sjis/")]))

    def test_paths_that_cannot_be_read_are_an_error_and_nothing_is_walked(self):
        before = snapshot(self.root)
        for program in (ARGS.scan, ARGS.convert):
            command = ["sh", "-c", 'exec "$@" <&-', "sh"] + list(ARGS.launcher) + [program, "-0"]
            result = subprocess.run(command, capture_output=True, cwd=self.root, timeout=300)
            self.assertEqual(result.returncode, 1, program)
            self.assertEqual(result.stdout, b"", program)
            self.assertIn(b": standard input: ", result.stderr, program)
        self.assertEqual(snapshot(self.root), before)

    def test_a_japanese_name_on_the_command_line_reaches_both_programs(self):
        name = os.path.join("tree", "names", "日本語の名前.txt")
        scan = run(ARGS.scan, "--json", name, cwd=self.work)
        self.assertEqual(scan.returncode, 0, scan.stderr)
        [entry] = json_lines(scan.stdout)
        self.assertEqual(entry["code_page"], 932)
        convert = run(ARGS.convert, "--dry-run", "--json", name, cwd=self.work)
        self.assertEqual(convert.returncode, 0, convert.stderr)
        [entry] = json_lines(convert.stdout)
        self.assertEqual(entry["action"], "would_convert")

    @POSIX_ONLY
    def test_links_followed_when_asked_and_loops_noticed(self):
        result = run(ARGS.scan, "-L", "--json", "tree/links", cwd=self.work)
        entries = {relative("tree", e["raw"]): e for e in json_lines(result.stdout)}
        self.assertEqual(entries[b"links/to_file.txt"]["code_page"], 932)
        self.assertEqual(entries[b"links/to_dir/text.txt"]["code_page"], 932)
        self.assertEqual(entries[b"links/loop/up"]["skipped"], "symbolic link loop")
        self.assertIn("error", entries[b"links/dangling.txt"])
        self.assertEqual(result.returncode, 1, "a dangling link could not be read")

    @unittest.skipIf(ARGS.windows or os.geteuid() != 0 or shutil.which("setpriv") is None,
                     "needs root, setpriv and a POSIX program")
    def test_unreadable_files_and_folders_are_reported_and_the_walk_goes_on(self):
        os.chmod(self.work, 0o755)
        os.chmod(os.path.join(self.root, "sjis", "text.txt"), 0)
        os.chmod(os.path.join(self.root, "utf8"), 0)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        result = run(ARGS.scan, "--json", "tree", cwd=self.work, user=nobody)
        self.assertEqual(result.returncode, 1)
        entries = {relative("tree", e["raw"]): e for e in json_lines(result.stdout)}
        self.assertIn("Permission denied", entries[b"sjis/text.txt"]["error"])
        self.assertIn("Permission denied", entries[b"utf8"]["error"])
        self.assertEqual(entries[b"sjis/text_crlf.txt"]["code_page"], 932)


class Convert(Tree):
    def test_converts_exactly_the_shift_jis_files_losslessly_once(self):
        before = snapshot(self.root)
        if not ARGS.windows:
            os.chown(os.path.join(self.root, "sjis", "text_crlf.txt"), 65534, 65534)
        dry = run(ARGS.convert, "--dry-run", "--json", "tree", cwd=self.work)
        self.assertEqual(snapshot(self.root), before, "a dry run changed something")
        would = {relative("tree", e["raw"]) for e in json_lines(dry.stdout)
                 if e["action"] == "would_convert"}
        self.assertEqual(would, {n for n, c in self.expected.items() if c})

        result = run(ARGS.convert, "--json", "-j", "3", "tree", cwd=self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        actions = {relative("tree", e["raw"]): e for e in json_lines(result.stdout)}
        self.assertEqual({n for n, e in actions.items() if e["action"] == "converted"}, would)
        self.assertEqual(self.check_tree(before), len(would))
        for name, why in [(b"utf8/short.txt", "already UTF-8"),
                          (b"mixed/utf8_line.txt", "mixed UTF-8 and Shift_JIS: UTF-8 at line 2"),
                          (b"mixed/utf8_line_after_1MiB.txt", "mixed UTF-8 and Shift_JIS: UTF-8 at line"),
                          (b"other/latin1.txt", "unknown 8-bit: not converted"),
                          (b"other/binary.bin", "binary: not converted"),
                          (b"sjis/duplicate_nec_ibm.txt", "EEE0"),
                          (b"sjis/duplicate_row13.txt", "8790"),
                          (b"sjis/broken_after_1MiB.txt", "8540"),
                          (b"other/eucjp.txt", "EUC-JP: not converted")]:
            self.assertIn(why, actions[name]["reason"], name)
        converted = snapshot(self.root)
        self.assertIn(b"C:\\Users\\tanaka ~/memo", converted[b"sjis/backslash_tilde.txt"])
        self.assertIn("ｺﾝﾋﾟｭｰﾀ".encode(), converted[b"sjis/text.txt"])
        self.assertIn("髙橋".encode(), converted[b"sjis/extensions.txt"])
        self.assertIn(b"\r\n", converted[b"sjis/text_crlf.txt"])
        if not ARGS.windows:
            self.assertIn(b"links/hard_a.txt", actions)
            self.assertIn("hard links", actions[b"links/hard_a.txt"]["reason"])
            paragraph = os.stat(os.path.join(self.root, "sjis", "paragraph_0.txt"))
            self.assertEqual(stat.S_IMODE(paragraph.st_mode), 0o750)
            if os.geteuid() == 0:
                owned = os.stat(os.path.join(self.root, "sjis", "text_crlf.txt"))
                self.assertEqual((owned.st_uid, owned.st_gid), (65534, 65534))

        again = run(ARGS.convert, "--json", "tree", cwd=self.work)
        self.assertFalse([e for e in json_lines(again.stdout) if e["action"] == "converted"])
        self.assertEqual(snapshot(self.root), converted)

    @POSIX_ONLY
    def test_a_kill_at_any_moment_leaves_each_file_whole(self):
        # Many middling files, so that a kill lands in the middle of one.
        for k in range(40):
            path = os.path.join(self.root, "many", f"{k:02d}.txt")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(cp932(JAPANESE) * (200 + 37 * k))
            self.expected[os.path.relpath(os.fsencode(path), os.fsencode(self.root))] = True
        before = snapshot(self.root)
        rng = random.Random(11)
        for round in range(12):
            command = list(ARGS.launcher) + [ARGS.convert, "-j", "2", "tree"]
            process = subprocess.Popen(command, cwd=self.work, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.0, 0.08))
            process.send_signal(signal.SIGKILL)
            process.wait()
            self.check_tree(before, allow_partial=True)
        result = run(ARGS.convert, "--json", "tree", cwd=self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.check_tree(before)
        self.assertEqual(snapshot(self.root), {n: (self.converted(before, n) if self.expected[n]
                                                   else d) for n, d in before.items()})

    @POSIX_ONLY
    def test_a_signal_ends_the_run_with_every_file_whole_and_no_temporary_file(self):
        with open(os.path.join(self.root, "sjis", "huge.txt"), "wb") as f:
            f.write(cp932(JAPANESE) * 60000)  # about 60 MiB: still converting at the signal
        self.expected[b"sjis/huge.txt"] = True
        before = snapshot(self.root)
        process = subprocess.Popen(list(ARGS.launcher) + [ARGS.convert, "-j", "1", "tree/sjis"],
                                   cwd=self.work, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        time.sleep(0.25)
        process.send_signal(signal.SIGTERM)
        _, errors = process.communicate(timeout=60)
        self.assertEqual(process.returncode, -signal.SIGTERM, errors)
        self.assertIn(b"interrupted", errors)
        self.check_tree(before)

    @POSIX_ONLY
    def test_a_full_disk_leaves_the_original(self):
        disk = os.path.join(self.work, "disk")
        os.makedirs(disk)
        mounted = os.geteuid() == 0 and subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk], capture_output=True
        ).returncode == 0
        try:
            original = cp932(JAPANESE) * 600  # 600 KiB, about 900 KiB as UTF-8
            with open(os.path.join(disk, "big.txt"), "wb") as f:
                f.write(original)
            limit = []
            if not mounted:
                # No tmpfs to fill: a file size limit fails the writes alike.
                limit = ["sh", "-c", "trap '' XFSZ; ulimit -f 800; exec \"$@\"", "limit"]
            result = subprocess.run(limit + list(ARGS.launcher) + [ARGS.convert, "--json", disk],
                                    capture_output=True)
            self.assertEqual(result.returncode, 1, result.stderr)
            entry = json_lines(result.stdout)[0]
            self.assertEqual(entry["action"], "error")
            self.assertRegex(entry["reason"], "No space left on device|File too large")
            self.assertEqual(read(os.path.join(disk, "big.txt")), original)
            self.assertEqual(os.listdir(disk), ["big.txt"])
        finally:
            if mounted:
                subprocess.run(["umount", disk], check=True)


class Callers(Tree):
    """What the callers and file systems people really have do to a run."""

    @POSIX_ONLY
    def test_closed_standard_streams_put_nothing_into_a_file(self):
        before = snapshot(self.root)
        command = list(ARGS.launcher) + [ARGS.convert, "-j", "2", "tree"]
        result = subprocess.run(["bash", "-c", 'exec "$@" <&- >&-', "closed"] + command,
                                cwd=self.work, capture_output=True, timeout=300)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"write error: Bad file descriptor", result.stderr)
        for name, data in snapshot(self.root).items():
            self.assertNotIn(b"converted to UTF-8", data, name)
            self.assertNotIn(b'"action"', data, name)
        self.check_tree(before)
        # All three closed: nothing to say where, still nothing written into a file.
        result = subprocess.run(["bash", "-c", 'exec "$@" <&- >&- 2>&-', "closed"] + command,
                                cwd=self.work, timeout=300)
        for name, data in snapshot(self.root).items():
            self.assertNotIn(b"converted to UTF-8", data, name)
        self.check_tree(before)

    @unittest.skipIf(ARGS.windows or not (shutil.which("setfattr") and shutil.which("setfacl")),
                     "needs setfattr and setfacl (Debian's attr and acl)")
    def test_extended_attributes_and_acls_are_kept(self):
        name = os.path.join(self.root, "sjis", "text.txt")
        if subprocess.run(["setfattr", "-n", "user.origin", "-v", "x", name]).returncode != 0:
            self.skipTest("no user attributes on this file system")
        subprocess.run(["setfacl", "-m", "u:nobody:rw,g::r", name], check=True)
        os.chmod(os.path.join(self.root, "sjis", "paragraph_1.txt"), 0o664)
        subprocess.run(["setfacl", "-d", "-m", "u:nobody:rwx", os.path.join(self.root, "sjis")],
                       check=True)  # a default ACL the new files would inherit

        def metadata(path):
            attributes = subprocess.run(["getfattr", "-d", "-m", "-", "--absolute-names", path],
                                        capture_output=True, check=True).stdout
            acl = subprocess.run(["getfacl", "-p", path], capture_output=True, check=True).stdout
            return attributes, acl, stat.S_IMODE(os.stat(path).st_mode)

        plain = os.path.join(self.root, "sjis", "paragraph_1.txt")
        wanted = {path: metadata(path) for path in (name, plain)}
        result = run(ARGS.convert, "--json", "tree/sjis/text.txt", "tree/sjis/paragraph_1.txt",
                     cwd=self.work)
        actions = [e["action"] for e in json_lines(result.stdout)]
        self.assertEqual(actions, ["converted", "converted"], result.stdout)
        for path, before in wanted.items():
            self.assertEqual(metadata(path), before, path)
        self.assertIn(b"user.origin", wanted[name][0])
        self.assertIn(b"user:nobody:rw-", wanted[name][1])

    @AS_ROOT_WITH_SETPRIV
    def test_owner_and_group_are_kept_or_the_file_is_left_alone(self):
        os.chmod(self.work, 0o755)
        folder = os.path.join(self.root, "shared")
        os.makedirs(folder)
        os.chown(folder, 65534, 65534)
        text = cp932(PARAGRAPHS[3])
        for name, owner, group, mode in [("group.txt", 65534, 100, 0o664),
                                         ("rooted.txt", 0, 0, 0o666)]:
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(text)
            os.chown(path, owner, group)
            os.chmod(path, mode)

        def convert_as(groups):
            user = ["setpriv", "--reuid=65534", "--regid=65534"] + groups
            result = run(ARGS.convert, "--json", "tree/shared", cwd=self.work, user=user)
            return {relative("tree/shared", e["raw"]): e for e in json_lines(result.stdout)}

        outsider = convert_as(["--clear-groups"])
        self.assertEqual(outsider[b"group.txt"]["reason"], "cannot keep its group")
        self.assertEqual(outsider[b"rooted.txt"]["reason"], "cannot keep its owner")
        for name in ("group.txt", "rooted.txt"):
            self.assertEqual(read(os.path.join(folder, name)), text)
        member = convert_as(["--groups=100"])
        self.assertEqual(member[b"group.txt"]["action"], "converted")
        kept = os.stat(os.path.join(folder, "group.txt"))
        self.assertEqual((kept.st_uid, kept.st_gid, stat.S_IMODE(kept.st_mode)), (65534, 100, 0o664))
        self.assertEqual(member[b"rooted.txt"]["reason"], "cannot keep its owner")
        self.assertEqual(temporary_files(self.root), [])

    @POSIX_ONLY
    def test_a_reader_that_goes_away_stops_the_run_and_leaves_no_temporary_file(self):
        for k in range(30):
            with open(os.path.join(self.root, "sjis", f"many_{k:02d}.txt"), "wb") as f:
                f.write(cp932(JAPANESE) * (300 + 50 * k))
            self.expected[b"sjis/many_%02d.txt" % k] = True
        before = snapshot(self.root)
        for _ in range(4):
            command = " ".join(["'%s'" % c for c in list(ARGS.launcher) + [ARGS.convert]])
            result = subprocess.run(["bash", "-c", command + ' -j 2 tree | head -1; echo "${PIPESTATUS[0]}"'],
                                    cwd=self.work, capture_output=True, timeout=300)
            status = result.stdout.splitlines()[-1]
            self.assertIn(status, (b"0", b"141"), result.stderr)  # done, or ended by SIGPIPE
            self.assertEqual(temporary_files(self.root), [])
            self.check_tree(before)

    @POSIX_ONLY
    def test_leftovers_are_known_by_their_lock_not_by_a_process_number(self):
        import fcntl
        sjis = os.path.join(self.root, "sjis")
        # Left by a run killed in a container, where every run is process 1,
        # and by an earlier run whose number is now this test's.
        for name in (".codepage-convert-1-0.tmp", f".codepage-convert-{os.getpid()}-0.tmp"):
            with open(os.path.join(sjis, name), "wb") as f:
                f.write(b"half written")
        held = os.path.join(sjis, ".codepage-convert-0123456789abcdef.tmp")
        with open(held, "wb") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # a run going on
            dry = run(ARGS.convert, "--json", "--dry-run", "tree/sjis", cwd=self.work)
            dry_actions = {os.path.basename(e["raw"]): e["action"] for e in json_lines(dry.stdout)}
            self.assertEqual(dry_actions[b".codepage-convert-1-0.tmp"], "would_remove")
            result = run(ARGS.convert, "--json", "tree/sjis", cwd=self.work)
        entries = {os.path.basename(e["raw"]): e for e in json_lines(result.stdout)}
        self.assertEqual(entries[b".codepage-convert-1-0.tmp"]["action"], "removed")
        self.assertEqual(entries[b".codepage-convert-%d-0.tmp" % os.getpid()]["action"], "removed")
        self.assertEqual(entries[os.path.basename(os.fsencode(held))]["action"], "skipped")
        self.assertEqual(sorted(os.listdir(sjis))[0], os.path.basename(held))

    @AS_ROOT_WITH_SETPRIV
    def test_no_limit_on_threads_or_memory_ends_a_run_abruptly(self):
        os.chmod(self.work, 0o755)
        subprocess.run(["chown", "-R", "65534:65534", self.root], check=True)
        before = snapshot(self.root)
        # Six processes or threads at most for this user, as `ulimit -u 6`.
        limited = NOBODY + ["prlimit", "--nproc=6"]
        result = run(ARGS.convert, "--json", "-j", "64", "tree", cwd=self.work, user=limited)
        self.assertIn(result.returncode, (0, 1), result.stderr)
        self.assertNotIn(b"terminate", result.stderr)
        self.assertEqual(temporary_files(self.root), [])
        self.check_tree(before)
        converted = [e for e in json_lines(result.stdout) if e["action"] == "converted"]
        self.assertEqual(len(converted), sum(self.expected.values()))
        # Less address space than a buffer for every thread asked for would take
        # (AddressSanitizer's shadow memory alone needs more).
        with open(ARGS.scan, "rb") as program:
            if b"__asan_init" in program.read():
                return
        memory = ["prlimit", "--as=800000000"]
        scan = run(ARGS.scan, "-j", "1024", "tree/other/eucjp.txt", cwd=self.work, user=memory)
        self.assertEqual(scan.returncode, 0, scan.stderr)
        self.assertTrue(scan.stdout.startswith(b"tree/other/eucjp.txt: "), scan.stdout)

    @POSIX_ONLY
    def test_ctrl_c_stops_the_walk_and_says_so_once(self):
        many = os.path.join(self.root, "many")
        for k in range(3000):
            path = os.path.join(many, f"{k // 100:02d}", f"{k}.txt")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(cp932(PARAGRAPHS[k % len(PARAGRAPHS)]) * 40)
        before = snapshot(self.root)
        process = subprocess.Popen(list(ARGS.launcher) + [ARGS.convert, "-j", "2", "tree"],
                                   cwd=self.work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(0.4)
        process.send_signal(signal.SIGINT)
        output, errors = process.communicate(timeout=60)
        self.assertEqual(process.returncode, -signal.SIGINT, errors)
        self.assertNotIn(b"interrupted", output)
        self.assertEqual(errors.count(b"\n"), 1, errors)
        self.assertIn(b"interrupted", errors)
        self.assertEqual(temporary_files(self.root), [])
        after = snapshot(self.root)
        for name, data in before.items():
            if after[name] != data:
                self.assertTrue(self.expected.get(name, name.startswith(b"many/")), name)
                self.assertEqual(after[name], iconv(data, "CP932", "UTF-8"), name)

    @POSIX_ONLY
    def test_a_tree_deeper_than_any_path_the_system_takes(self):
        depth, planted = 1200, 0
        # Made a folder at a time, relative to the one before: no path this long opens.
        folder = os.open(self.root, os.O_RDONLY)
        try:
            for level in range(depth):
                name = "deep_folder_%04d" % level
                os.mkdir(name, dir_fd=folder)
                inner = os.open(name, os.O_RDONLY, dir_fd=folder)
                os.close(folder)
                folder = inner
                if level % 300 == 299:
                    file = os.open("file.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=folder)
                    os.write(file, cp932(PARAGRAPHS[0]))
                    os.close(file)
                    planted += 1
        finally:
            os.close(folder)
        self.addCleanup(subprocess.run, ["rm", "-rf", os.path.join(self.root, "deep_folder_0000")])
        found = subprocess.run(["find", "tree", "-type", "f", "-print0"], cwd=self.work,
                               capture_output=True, check=True).stdout.count(b"\0")
        scan = run(ARGS.scan, "--json", "tree", cwd=self.work)
        self.assertEqual(scan.returncode, 0, scan.stderr)
        entries = [e for e in json_lines(scan.stdout) if "skipped" not in e]
        self.assertEqual(len(entries), found)
        self.assertFalse([e for e in entries if "error" in e])
        convert = run(ARGS.convert, "--json", "tree", cwd=self.work)
        deep = [e for e in json_lines(convert.stdout) if b"deep_folder_" in e["raw"]]
        self.assertEqual([e["action"] for e in deep], ["converted"] * planted)
        self.assertEqual(max(e["raw"].count(b"deep_folder_") for e in deep), depth)

    def test_options_as_coreutils_take_them(self):
        for args, status in [(["--min-score", "0.2"], 0), (["--min-score=0.2"], 0),
                             (["-nj2"], 0), (["--min-score="], 2),
                             (["--min-score", "--no-summary"], 2), (["--frob"], 2)]:
            result = run(ARGS.convert, "--dry-run", *args, "tree/sjis", cwd=self.work, check=False)
            self.assertEqual(result.returncode, status, (args, result.stderr))
            if status == 2:
                self.assertIn(b"Try 'codepage-convert --help' for more information.", result.stderr)
                self.assertNotIn(b"usage:", result.stderr)
        if not ARGS.windows:
            for program in (ARGS.scan, ARGS.convert):
                for option in ("--help", "--version"):
                    with open("/dev/full", "wb") as full:
                        result = subprocess.run(list(ARGS.launcher) + [program, option],
                                                stdout=full, stderr=subprocess.PIPE)
                    self.assertEqual(result.returncode, 1, (program, option))
                    self.assertIn(b"write error", result.stderr)

    @unittest.skipUnless(ARGS.windows, "Windows: the backslash is the separator")
    def test_people_read_paths_as_the_system_writes_them(self):
        result = run(ARGS.scan, "tree\\sjis\\text.txt", "tree", cwd=self.work)
        self.assertTrue(result.stdout.startswith(b"tree\\sjis\\text.txt: "), result.stdout)
        self.assertNotIn(b"\\\\", result.stdout)  # one separator is one character

    @AS_ROOT_WITH_SETPRIV
    def test_a_dry_run_promises_nothing_a_run_cannot_keep(self):
        os.chmod(self.work, 0o755)
        locked = os.path.join(self.root, "sjis")
        for name in os.listdir(locked):
            os.chmod(os.path.join(locked, name), 0o666)
        os.chmod(locked, 0o555)
        for dry in (["--dry-run"], []):
            result = run(ARGS.convert, "--json", *dry, "tree/sjis/text.txt", cwd=self.work,
                         user=NOBODY)
            [entry] = json_lines(result.stdout)
            self.assertEqual(entry["action"], "left", dry)
            self.assertIn(entry["reason"], ("its folder is not writable", "cannot keep its owner"))

class Migration(unittest.TestCase):
    """A legacy tree as Japanese projects have them: other encodings, files
    that declare their encoding, files whose readers need Shift_JIS."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="codepage_migration_")
        self.root = os.path.join(self.work, "legacy")
        para = PARAGRAPHS[1]
        self.files = {
            # name: (bytes, what it is in, converted with --from ... --fix-declarations)
            "web/index.html": (cp932(
                "<html><head>\n<meta http-equiv=\"Content-Type\" "
                "content=\"text/html; charset=Shift_JIS\">\n</head><body>\n" + para +
                "\n</body></html>\n"), "CP932", True),
            "web/style.css": (cp932("@charset \"Shift_JIS\";\n/* " + para + " */\n"), "CP932", True),
            "game/game.vcxproj": (cp932(
                "<?xml version=\"1.0\" encoding=\"shift_jis\"?>\n<Project><!-- " + para +
                " --></Project>\n"), "CP932", True),
            "game/game.rc": (cp932("#pragma code_page(932)\nSTRINGTABLE { 1 \"" + para + "\" }\n"),
                             "CP932", True),
            "game/plain.rc": (cp932("STRINGTABLE { 1 \"" + para + "\" }\n"), "CP932", False),
            "lisp/mode.el": (cp932(";; -*- mode: emacs-lisp; coding: shift_jis -*-\n;; " + para +
                                   "\n"), "CP932", True),
            "tools/run.bat": (cp932("@echo off\r\necho " + para + "\r\n"), "CP932", False),
            "tools/settings.reg": (cp932("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\" + para +
                                         "]\r\n"), "CP932", False),
            "tools/table.csv": (cp932("名前,値\n" + para + ",1\n"), "CP932", False),
            "mail/old.txt": (iconv(("\n".join(PARAGRAPHS[:3]) + "\n").encode(), "UTF-8",
                                   "ISO-2022-JP"), "ISO-2022-JP", True),
            "unix/readme.txt": (iconv(("\n".join(PARAGRAPHS[:3]) + "\n").encode(), "UTF-8",
                                      "EUC-JP"), "EUC-JP", True),
            "win/notes.txt": (b"\xff\xfe" + (para + "\r\n").encode("utf-16-le"), "UTF-16", True),
            "src/main.c": (cp932("/* " + para + " */\nint main(void) { return 0; }\n"), "CP932",
                           True),
            "src/latin1.txt": ("café crème, À LA CARTE\n".encode("latin-1"), None, False),
        }
        for name, (data, _, _) in self.files.items():
            path = os.path.join(self.root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def tearDown(self):
        shutil.rmtree(self.work)

    def convert(self, *args, cwd=None):
        result = run(ARGS.convert, "--json", *args, cwd=cwd or self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        return {e["raw"].decode(): e for e in json_lines(result.stdout)}

    def test_a_migration_finishes_with_every_reader_in_mind(self):
        actions = self.convert("--from", "euc-jp,iso-2022-jp,utf-16", "--fix-declarations",
                               "legacy")
        for name, (data, encoding, converts) in self.files.items():
            entry = actions["legacy/" + name]
            after = read(os.path.join(self.root, name))
            if not converts:
                self.assertEqual(entry["action"], "left", name)
                self.assertTrue(entry["reason"], name)
                self.assertEqual(after, data, name)
                continue
            self.assertEqual(entry["action"], "converted", (name, entry))
            # Back to what it was, but for the declarations, which now say UTF-8.
            back = after.replace(b"charset=UTF-8", b"charset=Shift_JIS")
            back = back.replace(b"@charset \"UTF-8\"", b"@charset \"Shift_JIS\"")
            back = back.replace(b"encoding=\"UTF-8\"", b"encoding=\"shift_jis\"")
            back = back.replace(b"code_page(65001)", b"code_page(932)")
            back = back.replace(b"coding: utf-8", b"coding: shift_jis")
            if encoding == "UTF-16":
                self.assertEqual(b"\xff\xfe" + iconv(after, "UTF-8", "UTF-16LE"), data, name)
            else:
                self.assertEqual(iconv(back, "UTF-8", encoding), data, name)
            for declared in (b"Shift_JIS", b"shift_jis", b"(932)"):
                self.assertNotIn(declared, after, name)
        self.assertIn("cmd.exe", actions["legacy/tools/run.bat"]["reason"])
        self.assertIn("REGEDIT4", actions["legacy/tools/settings.reg"]["reason"])
        self.assertIn("--bom", actions["legacy/tools/table.csv"]["reason"])
        self.assertIn("#pragma code_page(65001)", actions["legacy/game/plain.rc"]["reason"])
        self.assertEqual(actions["legacy/web/index.html"]["fixed_declarations"], 1)
        self.assertEqual(actions["legacy/unix/readme.txt"]["kind"], "euc-jp")
        # Everything is done: a second run finds nothing to convert.
        again = self.convert("--from", "all", "--fix-declarations", "legacy")
        self.assertFalse([n for n, e in again.items() if e["action"] == "converted"])

    def test_by_default_only_shift_jis_that_declares_nothing_is_converted(self):
        actions = self.convert("legacy")
        self.assertEqual(actions["legacy/src/main.c"]["action"], "converted")
        html = actions["legacy/web/index.html"]
        self.assertEqual(html["action"], "left")
        self.assertIn("declares Shift_JIS", html["reason"])
        self.assertIn("line 2", html["reason"])
        for name in ("unix/readme.txt", "mail/old.txt", "win/notes.txt"):
            self.assertEqual(actions["legacy/" + name]["action"], "left", name)
            self.assertIn("not converted", actions["legacy/" + name]["reason"], name)

    def test_a_byte_order_mark_for_the_programs_that_need_one(self):
        actions = self.convert("--bom", "legacy/tools/table.csv", "legacy/src/main.c")
        for name in ("tools/table.csv", "src/main.c"):
            self.assertEqual(actions["legacy/" + name]["action"], "converted", name)
            self.assertTrue(actions["legacy/" + name]["bom"])
            after = read(os.path.join(self.root, name))
            self.assertTrue(after.startswith(b"\xef\xbb\xbf"), name)
            self.assertEqual(iconv(after[3:], "UTF-8", "CP932"), self.files[name][0], name)

    def test_a_person_may_say_a_short_file_is_japanese(self):
        short = os.path.join(self.root, "short")
        os.makedirs(short)
        # 電話 and 電気 read as kanji whose second bytes are Latin letters (93 64
        # 98 62): too little to tell from Latin text on their own.
        for name, data in [("phone.txt", cp932("電話")), ("power.c", cp932("// 電気\n")),
                           ("latin1.txt", "Größe\n".encode("latin-1")),
                           ("kirikiri.txt", cp932("吉里吉里"))]:
            with open(os.path.join(short, name), "wb") as f:
                f.write(data)
        walked = self.convert("legacy/short")
        self.assertEqual({n: e["action"] for n, e in walked.items()},
                         {"legacy/short/phone.txt": "left", "legacy/short/power.c": "left",
                          "legacy/short/latin1.txt": "left",
                          "legacy/short/kirikiri.txt": "converted"})
        # A folder is no one's word for its files: --min-score=0 takes none.
        walked = self.convert("--min-score=0", "legacy/short")
        self.assertFalse([n for n, e in walked.items() if e["action"] == "converted"], walked)
        # Files named one by one are: all but the Latin text.
        given = self.convert("--min-score=0", "legacy/short/phone.txt", "legacy/short/power.c",
                             "legacy/short/latin1.txt")
        self.assertEqual({n: e["action"] for n, e in given.items()},
                         {"legacy/short/phone.txt": "converted", "legacy/short/power.c": "converted",
                          "legacy/short/latin1.txt": "left"})
        self.assertEqual(read(os.path.join(short, "phone.txt")), "電話".encode())
        self.assertEqual(read(os.path.join(short, "latin1.txt")), "Größe\n".encode("latin-1"))

    def test_mixed_files_line_by_line_when_asked(self):
        path = os.path.join(self.root, "mixed.txt")
        lines = [PARAGRAPHS[1] + "\n", "// 更新: 修正しました\n", PARAGRAPHS[2] + "\n"]
        with open(path, "wb") as f:
            f.write(cp932(lines[0]) + lines[1].encode() + cp932(lines[2]))
        self.assertEqual(self.convert("legacy/mixed.txt")["legacy/mixed.txt"]["action"], "left")
        entry = self.convert("--from", "mixed", "legacy/mixed.txt")["legacy/mixed.txt"]
        self.assertEqual(entry["action"], "converted")
        self.assertEqual(read(path), "".join(lines).encode())

    def test_unknown_kinds_are_a_wrong_command_line(self):
        result = run(ARGS.convert, "--from", "euc-jp,klingon", "legacy", cwd=self.work, check=False)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"klingon", result.stderr)


PATTERNS = ["*.log", "!keep.log", "build/", "/top.txt", "docs/**/*.md", "**/tmp", "cache/**",
            "[ab]?.c", "[!x]*.h", "\\#hash", "\\!bang", "spaced\\ ", "only_dir/", "*.[ch]",
            "sub/file.txt", "**/deep/*.txt", "x*y", "?", "[[:digit:]]*.dat", "!important.c",
            "*.tmp", "!/sub/", "a/**/z", "# a comment", "", "   ", "name with space.txt",
            "!*.md", "deep/", "**/*.dat", "!b1.c", "/*.c"]
NAMES = ["top.txt", "keep.log", "x.log", "a1.c", "b1.c", "xa.h", "ya.h", "#hash", "!bang",
         "spaced ", "important.c", "f.tmp", "9.dat", "readme.md", "xzy", "q", "name with space.txt",
         "file.txt", "z", "main.c"]
FOLDERS = ["", "sub", "docs", "docs/guide", "docs/guide/deep", "build", "cache", "tmp",
           "sub/tmp", "only_dir", "a", "a/b", "a/b/c", "deep"]


def git(*args, cwd, env=None):
    return subprocess.run(["git", "-c", "core.quotepath=off"] + list(args), cwd=cwd, env=env,
                          capture_output=True, check=True).stdout


@unittest.skipIf(ARGS.windows or shutil.which("git") is None, "needs git and POSIX names")
class IgnoreRules(unittest.TestCase):
    """The walk passes over what git ignores, checked against git itself."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="codepage_ignore_")
        self.home = os.path.join(self.work, "home")
        os.makedirs(self.home)
        self.environment = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                                GIT_CONFIG_NOSYSTEM="1")

    def tearDown(self):
        shutil.rmtree(self.work)

    def make_repository(self, rng, name, user_excludes=False, patterns=PATTERNS):
        root = os.path.join(self.work, name)
        os.makedirs(root)
        subprocess.run(["git", "init", "-q", root], check=True, env=self.environment)
        for folder in FOLDERS:
            os.makedirs(os.path.join(root, folder), exist_ok=True)
            for file in rng.sample(NAMES, 6):
                with open(os.path.join(root, folder, file), "wb") as f:
                    f.write(b"x\n")
            if rng.random() < 0.6:
                with open(os.path.join(root, folder, ".gitignore"), "w") as f:
                    f.write("\n".join(rng.sample(patterns, rng.randint(1, 7))) + "\n")
        with open(os.path.join(root, ".git", "info", "exclude"), "a") as f:
            f.write(rng.choice(patterns) + "\n")
        excludes = os.path.join(self.home, f"excludes_{name}")
        with open(excludes, "w") as f:
            f.write(rng.choice(patterns) + "\n")
        # The repository's own setting, or the user's (which ripgrep reads too).
        where = ["--global"] if user_excludes else []
        git("config", *where, "core.excludesFile", excludes, cwd=root, env=self.environment)
        return root

    def scanned(self, root, *args):
        result = subprocess.run(list(ARGS.launcher) + [ARGS.scan, "--json", *args],
                                cwd=root, capture_output=True, env=self.environment, timeout=120)
        self.assertIn(result.returncode, (0, 1), result.stderr)
        found = set()
        for entry in json_lines(result.stdout):
            if "skipped" not in entry:
                path = entry["raw"]
                found.add(path[2:] if path.startswith(b"./") else path)
        return found

    def test_the_walk_examines_what_git_lists(self):
        rng = random.Random(41)
        for round in range(25):
            root = self.make_repository(rng, f"repo{round}")
            listed = set(git("ls-files", "-z", "--cached", "--others", "--exclude-standard",
                             cwd=root, env=self.environment).split(b"\0")) - {b""}
            self.assertEqual(self.scanned(root), listed, f"round {round}")
            # From a folder inside: the ignore files above it still apply.
            inside = os.path.join(root, "docs")
            below = {p[len(b"docs/"):] for p in listed if p.startswith(b"docs/")}
            self.assertEqual(self.scanned(inside), below, f"round {round}, from docs")

    def test_ignore_files_apply_only_inside_a_work_tree(self):
        rng = random.Random(3)
        root = self.make_repository(rng, "plain")
        shutil.rmtree(os.path.join(root, ".git"))
        every = {os.path.relpath(os.path.join(d, n), root).encode()
                 for d, _, names in os.walk(root) for n in names}
        self.assertEqual(self.scanned(root), every)

    def test_version_controls_folders_are_passed_over_unless_told(self):
        root = self.make_repository(random.Random(5), "vcs")
        for folder in (".hg", ".svn"):
            os.makedirs(os.path.join(root, folder))
            with open(os.path.join(root, folder, "store"), "wb") as f:
                f.write(b"x")
        found = self.scanned(root)
        self.assertFalse([p for p in found if p.split(b"/")[0] in (b".git", b".hg", b".svn")])
        everything = self.scanned(root, "--no-ignore")
        self.assertIn(b".git/HEAD", everything)
        self.assertIn(b".hg/store", everything)
        on_disk = {os.path.relpath(os.path.join(d, n), root).encode()
                   for d, _, names in os.walk(root) for n in names}
        self.assertEqual(everything, on_disk)
        # A path given is examined, ignored or not.
        self.assertEqual(self.scanned(root, ".git/HEAD"), {b".git/HEAD"})

    @unittest.skipIf(shutil.which("rg") is None, "needs ripgrep")
    def test_globs_include_and_exclude_as_ripgreps_do(self):
        rng = random.Random(17)
        # ripgrep knows no POSIX classes in ignore files ([[:digit:]]); git does.
        root = self.make_repository(rng, "globs", user_excludes=True,
                                    patterns=[p for p in PATTERNS if "[:" not in p])
        for globs in (["*.c"], ["!*.c"], ["*.c", "!a*"], ["!docs/**", "*.md"], ["sub/**"],
                      ["*.h", "!x*", "xa.h"], ["**/deep/*"], ["!build"]):
            args = [a for g in globs for a in ("-g", g)]
            theirs = subprocess.run(["rg", "--files", "--hidden", "-g", "!.git"] + args,
                                    cwd=root, capture_output=True, env=self.environment).stdout
            expected = set(theirs.split(b"\n")) - {b""}
            self.assertEqual(self.scanned(root, *args), expected, globs)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + UNITTEST_ARGS, verbosity=2)
