#!/usr/bin/env python3
"""The editor plug-ins in the real editors: Vim, Neovim and Emacs, headless,
with the plug-ins and the tool as the Debian package installs them.

usage: test_editors.py STAGE [unittest options]

STAGE is the root of the installed package (/, or a folder the .deb was
unpacked into): STAGE/usr/bin/codepage-guess, the Vim package under
STAGE/usr/share/vim/vimfiles and STAGE/usr/share/nvim/site, codepage-guess.el
under STAGE/usr/share/emacs/site-lisp and its start-up file under
STAGE/etc/emacs/site-start.d.

For every file of a generated tree and every editor: the encoding the buffer
gets is the one the plug-ins' rule gives (what codepage-scan says the file is:
UTF-8, Shift_JIS as CP932, EUC-JP, ISO-2022-JP, UTF-16; otherwise what the
editor does without the plug-in), the text read is the expected text (the
buffer written out as UTF-8 equals the UTF-8 original), and saving without
changes writes back exactly the original bytes. Then the set-ups Japanese
users have: their own 'fileencodings' and file-coding-system-alist, links,
:read, nested reads, declarations Emacs reads. Set SHOW_DEFAULTS=1 to print
how the editors do without the plug-ins.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
STAGE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "/"
EDITORS = ("vim", "nvim", "emacs")
with open(os.path.join(HERE, "..", "trees", "japanese.txt"), encoding="utf-8") as sample:
    JAPANESE = sample.read()


def cp932(text):
    """Shift_JIS as Windows writes it (髙 as FBFC, ～ as 8160)."""
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout


TREE = {
    "utf8_text.txt": JAPANESE.encode(),
    "sjis_text.txt": cp932(JAPANESE),
    "sjis_crlf.txt": cp932(JAPANESE.replace("\n", "\r\n")),
    "sjis_short.csv": cp932("あい,時代,ｱｲｳ,1\r\n"),  # 20 bytes
    "sjis_halfwidth.txt": cp932("ｺﾝﾋﾟｭｰﾀ ﾌﾟﾛｸﾞﾗﾑ\n"),
    "sjis_extensions.txt": cp932("①②③ ㈱ 髙橋さん ～ ＼ 上記の通り\n"),
    "sjis_big.txt": cp932(JAPANESE) * 1100,  # more than 1 MiB
    "latin_utf8.txt": "café crème\n".encode(),  # the tool says Shift_JIS: the better score
    "french_utf8.txt": "naïve résumé\n".encode(),  # the same
    "german_utf8.txt": "Größe über Äpfel und Öl\n".encode(),
    "ascii.txt": b"plain ASCII text\n",  # undecided
    "latin1.txt": "Ça coûte très cher\n".encode("latin-1"),  # valid Shift_JIS, as it happens
    "undecided.txt": b"caf\xe9\n",  # the E9 waits for a trail in both readings
    "empty.txt": b"",  # the tool fails: no bytes
    "eucjp_text.txt": "\n".join(JAPANESE.splitlines()[:6]).encode("euc_jp") + b"\n",
    "iso2022jp_text.txt": "\n".join(JAPANESE.splitlines()[:6]).encode("iso2022_jp") + b"\n",
    "utf16_text.txt": b"\xff\xfe" + JAPANESE.encode("utf-16-le"),
    "mixed_lines.txt": cp932(JAPANESE.splitlines()[2] + "\n") + "// 更新しました\n".encode() +
                       cp932(JAPANESE.splitlines()[4] + "\n"),
}
# How each editor names what the rule asks for.
NAMES = {"vim": {"utf-16le": "utf-16le"}, "nvim": {"utf-16le": "utf-16le"},
         "emacs": {"utf-16le": "utf-16le-with-signature"}}


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def kind_of(path):
    """What codepage-scan says the file is."""
    result = subprocess.run([os.path.join(STAGE, "usr/bin/codepage-scan"), "--json", path],
                            capture_output=True)
    return json.loads(result.stdout.decode()).get("kind")


def expected_encoding(path, data):
    """The plug-ins' rule: the encoding of what codepage-scan says the file
    is, or None where it is none of those (the editor's own choice)."""
    return {"utf-8": "utf-8", "shift_jis": "cp932", "mixed": "cp932", "euc-jp": "euc-jp",
            "iso-2022-jp": "iso-2022-jp", "utf-16le": "utf-16le"}.get(kind_of(path))


def tool_verdict(path):
    result = subprocess.run([os.path.join(STAGE, "usr/bin/codepage-guess"), path],
                            capture_output=True)
    return result.stdout.decode().strip() if result.returncode == 0 else "failed"


def open_in(editor, path, report, utf8_copy, plugin=True, command=None):
    """Opens `path`, reports its encoding, writes it out as UTF-8 and saves
    it unchanged. Returns the encoding as 'utf-8', 'cp932' or the editor's
    own name, and the seconds the opening took."""
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8",
               PATH=os.path.join(STAGE, "usr/bin") + os.pathsep + os.environ["PATH"],
               HOME=os.path.dirname(report))
    if editor in ("vim", "nvim"):
        root = os.path.join(STAGE, "usr/share/vim/vimfiles" if editor == "vim" else "usr/share/nvim/site")
        setup = ["--cmd", f"set packpath^={root}"]
        if plugin:
            setup += ["--cmd", "packadd codepage-guess"]
        if command:
            setup += ["--cmd", f"let g:codepage_guess_command = '{command}'"]
        actions = ["-c", "let g:start = reltime()", "-c", f"edit {path}",
                   "-c", f"call writefile([&fileencoding, &fileformat, "
                         f"string(reltimefloat(reltime(g:start)))], '{report}')",
                   "-c", f"write! ++enc=utf-8 {utf8_copy}", "-c", "write!", "-c", "qall!"]
        if editor == "vim":
            argv = ["vim", "-N", "-u", "NONE", "-i", "NONE", "-n", "-es"] + setup + actions
        else:
            argv = ["nvim", "--headless", "-u", "NONE", "-i", "NONE", "-n"] + setup + actions
    else:
        lisp = os.path.join(STAGE, "usr/share/emacs/site-lisp")
        startup = os.path.join(STAGE, "etc/emacs/site-start.d/50codepage-guess.el")
        program = f"""(progn
          (setq make-backup-files nil)
          {"(codepage-guess-mode 1)" if plugin else ""}
          {f'(setq codepage-guess-command "{command}")' if command else ""}
          (let ((start (float-time)))
            (find-file "{path}")
            (let ((coding-system-for-write 'utf-8-unix))
              (write-region (format "%s\\n%s\\n%f\\n"
                                    (coding-system-base buffer-file-coding-system)
                                    (coding-system-eol-type buffer-file-coding-system)
                                    (- (float-time) start))
                            nil "{report}")))
          (let ((coding-system-for-write
                 (coding-system-change-text-conversion buffer-file-coding-system 'utf-8)))
            (write-region nil nil "{utf8_copy}"))
          (set-buffer-modified-p t)
          (save-buffer))"""
        argv = ["emacs", "--batch", "-Q", "-L", lisp, "-l", startup, "--eval", program]
    result = subprocess.run(argv, env=env, capture_output=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f"{editor} failed on {path}: {result.stderr.decode()[-800:]}")
    with open(report, encoding="utf-8") as f:
        lines = f.read().splitlines()
    name = {"japanese-cp932": "cp932", "utf-8": "utf-8", "prefer-utf-8": "utf-8",
            "japanese-iso-8bit": "euc-jp", "iso-2022-jp": "iso-2022-jp",
            "utf-16le-with-signature": "utf-16le"}.get(lines[0], lines[0])
    return name, float(lines[-1])


class Editors(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="codepage_editors_")

    def tearDown(self):
        shutil.rmtree(self.work)

    def run_editor(self, editor, name, data, **options):
        tag = f"{editor}-{'plain' if not options.get('plugin', True) else 'plugin'}-{name}"
        path = os.path.join(self.work, tag)
        with open(path, "wb") as f:
            f.write(data)
        report, utf8_copy = path + ".report", path + ".utf8"
        encoding, seconds = open_in(editor, path, report, utf8_copy, **options)
        with open(path, "rb") as f:
            saved = f.read()
        with open(utf8_copy, "rb") as f:
            as_utf8 = f.read()
        return encoding, as_utf8, saved, seconds

    def test_every_file_opens_as_the_rule_says_and_saves_back_byte_for_byte(self):
        rows = []
        for editor in EDITORS:
            for name, data in TREE.items():
                with self.subTest(editor=editor, file=name):
                    encoding, as_utf8, saved, _ = self.run_editor(editor, name, data)
                    expected = expected_encoding(os.path.join(self.work, f"{editor}-plugin-{name}"), data)
                    plain = self.run_editor(editor, name, data, plugin=False)
                    rows.append((name, editor, plain[0], encoding))
                    self.assertEqual(saved, data, "saving without changes changed the bytes")
                    if expected is None:
                        # The editor's own choice, as without the plug-in.
                        self.assertEqual((encoding, as_utf8), plain[:2])
                        continue
                    self.assertEqual(encoding, expected)
                    if expected == "cp932":  # Windows' mapping, as iconv has it
                        text = subprocess.run(["iconv", "-f", "CP932", "-t", "UTF-8"], input=data,
                                              capture_output=True, check=True).stdout.decode()
                    elif name == "mixed_lines.txt":
                        continue  # its UTF-8 line reads as CP932: the whole file has one encoding
                    else:
                        text = data.decode({"euc-jp": "euc_jp", "iso-2022-jp": "iso2022_jp",
                                            "utf-16le": "utf-16"}.get(expected, "utf-8"))
                    if expected == "utf-16le":  # the mark goes out as UTF-8's
                        as_utf8 = as_utf8[3:] if as_utf8.startswith(b"\xef\xbb\xbf") else as_utf8
                    self.assertEqual(as_utf8.decode("utf-8"), text)
        if os.environ.get("SHOW_DEFAULTS"):
            print("\n| file | tool | " + " | ".join(f"{e}, default | {e}, plug-in" for e in EDITORS) + " |")
            print("|---|---|" + "---|---|" * len(EDITORS))
            for name in TREE:
                cells = []
                for editor in EDITORS:
                    plain, plugged = next((p, g) for n, e, p, g in rows if n == name and e == editor)
                    cells += [plain, plugged]
                verdict = tool_verdict(os.path.join(self.work, f"vim-plugin-{name}"))
                print(f"| {name} | {verdict or 'undecided'} | " + " | ".join(cells) + " |")

    def test_an_encoding_the_user_gives_wins(self):
        data = TREE["sjis_text.txt"]
        for editor in ("vim", "nvim"):
            path = os.path.join(self.work, f"{editor}-enc.txt")
            with open(path, "wb") as f:
                f.write(data)
            report = path + ".report"
            argv = ([editor, "-N", "-u", "NONE", "-i", "NONE", "-n", "-es"] if editor == "vim" else
                    [editor, "--headless", "-u", "NONE", "-i", "NONE", "-n"])
            root = os.path.join(STAGE, "usr/share/vim/vimfiles" if editor == "vim" else "usr/share/nvim/site")
            env = dict(os.environ, LANG="C.UTF-8", PATH=os.path.join(STAGE, "usr/bin") + ":" + os.environ["PATH"])
            subprocess.run(argv + ["--cmd", f"set packpath^={root}", "--cmd", "packadd codepage-guess",
                                   "-c", f"edit ++enc=latin1 {path}",
                                   "-c", f"call writefile([&fileencoding], '{report}')", "-c", "qall!"],
                           env=env, check=True, capture_output=True)
            with open(report, encoding="utf-8") as f:
                self.assertEqual(f.read().strip(), "latin1", editor)
        path = os.path.join(self.work, "emacs-enc.txt")
        with open(path, "wb") as f:
            f.write(data)
        program = f"""(progn (codepage-guess-mode 1)
          (let ((coding-system-for-read 'latin-1)) (find-file "{path}"))
          (princ (coding-system-base buffer-file-coding-system)))"""
        result = subprocess.run(["emacs", "--batch", "-Q", "-L", os.path.join(STAGE, "usr/share/emacs/site-lisp"),
                                 "-l", os.path.join(STAGE, "etc/emacs/site-start.d/50codepage-guess.el"),
                                 "--eval", program], capture_output=True, check=True,
                                env=dict(os.environ, PATH=os.path.join(STAGE, "usr/bin") + ":" + os.environ["PATH"]))
        self.assertEqual(result.stdout.decode(), "iso-latin-1")
        # A coding cookie in the file wins in Emacs as well.
        with open(path, "wb") as f:
            f.write(b"-*- coding: latin-1 -*-\n" + data)
        result = subprocess.run(["emacs", "--batch", "-Q", "-L", os.path.join(STAGE, "usr/share/emacs/site-lisp"),
                                 "-l", os.path.join(STAGE, "etc/emacs/site-start.d/50codepage-guess.el"),
                                 "--eval", f"""(progn (codepage-guess-mode 1) (find-file "{path}")
                                   (princ (coding-system-base buffer-file-coding-system)))"""],
                                capture_output=True, check=True,
                                env=dict(os.environ, PATH=os.path.join(STAGE, "usr/bin") + ":" + os.environ["PATH"]))
        self.assertEqual(result.stdout.decode(), "iso-latin-1")

    def test_without_the_tool_every_file_opens_as_without_the_plug_in(self):
        for editor in EDITORS:
            for name in ("sjis_text.txt", "utf8_text.txt", "latin1.txt"):
                data = TREE[name]
                with self.subTest(editor=editor, file=name):
                    missing = self.run_editor(editor, name, data, command="/nonexistent/codepage-guess")
                    plain = self.run_editor(editor, name, data, plugin=False)
                    self.assertEqual(missing[:3], plain[:3])

    def test_opening_costs_one_tool_process(self):
        # Not a timed test: the figures are printed for the README.
        data = TREE["sjis_text.txt"]
        for editor in ("vim", "nvim"):
            plugged = sorted(self.run_editor(editor, "t.txt", data)[3] for _ in range(9))[4]
            plain = sorted(self.run_editor(editor, "t.txt", data, plugin=False)[3] for _ in range(9))[4]
            print(f"\n{editor}: :edit of a 1 KiB Shift_JIS file takes {plugged * 1000:.1f} ms with the "
                  f"plug-in, {plain * 1000:.1f} ms without (medians of 9)")


def environment(home):
    return dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", HOME=home,
                PATH=os.path.join(STAGE, "usr/bin") + os.pathsep + os.environ["PATH"])


def run_vim(editor, home, setup, actions, report):
    """Runs Vim or Neovim headless with the package installed, `setup` before
    the plug-in loads (a user's vimrc), then `actions`; returns the lines the
    actions wrote into `report`."""
    root = os.path.join(STAGE, "usr/share/vim/vimfiles" if editor == "vim" else "usr/share/nvim/site")
    argv = ([editor, "-N", "-u", "NONE", "-i", "NONE", "-n", "-es"] if editor == "vim" else
            [editor, "--headless", "-u", "NONE", "-i", "NONE", "-n"])
    argv += [a for line in setup for a in ("--cmd", line)]
    argv += ["--cmd", f"set packpath^={root}", "--cmd", "packadd codepage-guess"]
    argv += [a for line in actions for a in ("-c", line)] + ["-c", "qall!"]
    result = subprocess.run(argv, env=environment(home), capture_output=True, timeout=120)
    if result.returncode != 0 or not os.path.exists(report):
        raise AssertionError(f"{editor}: status {result.returncode}: {result.stderr.decode()[-800:]}")
    with open(report, encoding="utf-8") as f:
        return f.read().splitlines()


def run_emacs(home, program, command=None):
    """Runs Emacs in batch with the package as installed (its start-up file
    and autoloads); returns what `program` printed."""
    lisp = os.path.join(STAGE, "usr/share/emacs/site-lisp")
    startup = os.path.join(STAGE, "etc/emacs/site-start.d/50codepage-guess.el")
    argv = ["emacs", "--batch", "-Q", "-L", lisp, "-l", startup]
    if command:
        argv += ["--eval", f'(setq codepage-guess-command "{command}" '
                           f'codepage-guess-scan-command "{command}-scan")']
    result = subprocess.run(argv + ["--eval", program], env=environment(home),
                            capture_output=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f"emacs: {result.stderr.decode()[-800:]}")
    return result.stdout.decode()


# The list Japanese users set in their vimrc.
JAPANESE_FILEENCODINGS = "ucs-bom,utf-8,euc-jp,cp932,latin1"


class UsersSetUps(unittest.TestCase):
    """The plug-ins inside the configurations Japanese users have."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="codepage_setups_")
        self.addCleanup(shutil.rmtree, self.work)

    def put(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_vim_keeps_the_users_fileencodings_behind_what_the_file_is(self):
        # None: as the editor opens it without the plug-in, with the same list.
        files = {"euc.txt": ("eucjp_text.txt", "euc-jp"), "sjis.txt": ("sjis_text.txt", "cp932"),
                 "utf8.txt": ("utf8_text.txt", "utf-8"), "latin1.txt": ("latin1.txt", None),
                 "damaged.txt": (None, None)}
        for name, (source, _) in files.items():
            # UTF-8 with one bad byte: the tool says UTF-8, which cannot read it.
            self.put(name, TREE[source] if source else JAPANESE.encode() + b"\xff\n")
        for editor in ("vim", "nvim"):
            for name, (_, expected) in files.items():
                with self.subTest(editor=editor, file=name):
                    report = os.path.join(self.work, f"{editor}-{name}.report")
                    actions = [f"edit {os.path.join(self.work, name)}",
                               f"call writefile([&fileencoding, &fileencodings, &readonly, "
                               f"&modifiable], '{report}')"]
                    lines = run_vim(editor, self.work, [f"set fileencodings={JAPANESE_FILEENCODINGS}"],
                                    actions, report)
                    if expected is None:
                        expected = run_vim(editor, self.work,
                                           [f"set fileencodings={JAPANESE_FILEENCODINGS}",
                                            "let g:codepage_guess_enabled = 0"], actions, report)[0]
                    self.assertEqual(lines[0], expected)
                    self.assertEqual(lines[1], JAPANESE_FILEENCODINGS, "the user's list was not put back")
                    self.assertEqual(lines[2:], ["0", "1"], "the buffer opened read-only")

    def test_vim_follows_links_covers_read_and_nested_reads(self):
        target = self.put("sjis.txt", TREE["sjis_text.txt"])
        link = os.path.join(self.work, "link.txt")
        os.symlink(target, link)
        self.put("euc.txt", TREE["eucjp_text.txt"])
        expected = subprocess.run(["iconv", "-f", "CP932", "-t", "UTF-8"], input=TREE["sjis_text.txt"],
                                  capture_output=True, check=True).stdout.decode().splitlines()
        for editor in ("vim", "nvim"):
            with self.subTest(editor=editor, case="link"):
                report = os.path.join(self.work, f"{editor}-link.report")
                lines = run_vim(editor, self.work, [], [f"edit {link}",
                                f"call writefile([&fileencoding], '{report}')"], report)
                self.assertEqual(lines, ["cp932"])
            with self.subTest(editor=editor, case=":read"):
                report = os.path.join(self.work, f"{editor}-read.report")
                # Vim's own list, which reads Shift_JIS as Latin-1.
                lines = run_vim(editor, self.work, ["let g:before = &fileencodings"],
                                ["enew", f"read {target}",
                                 f"call writefile(getline(1, '$') + [&fileencodings ==# g:before], "
                                 f"'{report}')"], report)
                # The file's lines, after the new buffer's empty one where it keeps it.
                self.assertEqual(lines[-1 - len(expected):-1], expected)
                self.assertEqual(lines[-1], "1", "the list was not put back")
            with self.subTest(editor=editor, case="nested"):
                # A user's autocommand that opens a second file while the first
                # is read: each read gets its encoding, and the list comes back.
                report = os.path.join(self.work, f"{editor}-nested.report")
                lines = run_vim(editor, self.work,
                                [f"set fileencodings={JAPANESE_FILEENCODINGS}",
                                 f"autocmd BufReadPost sjis.txt ++nested split {self.work}/euc.txt"],
                                [f"edit {target}",
                                 f"call writefile([getbufvar('sjis.txt', '&fileencoding'), "
                                 f"getbufvar('euc.txt', '&fileencoding'), &fileencodings], '{report}')"],
                                report)
                self.assertEqual(lines, ["cp932", "euc-jp", JAPANESE_FILEENCODINGS])

    def test_emacs_leaves_the_choice_to_what_decides_before_it(self):
        po = self.put("ja.po", 'msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=EUC-JP\\n"\n\n'
                      'msgid "File"\nmsgstr "ファイル"\n'.encode("euc_jp"))
        tex = self.put("latin.tex", "\\documentclass{article}\n\\usepackage[latin1]{inputenc}\n"
                       "\\begin{document}Ça coûte très cher.\\end{document}\n".encode("latin-1"))
        sjis_named = self.put("notes.sjis", TREE["eucjp_text.txt"])  # the user's alist says EUC-JP
        euc = self.put("euc.txt", TREE["eucjp_text.txt"])
        iso = self.put("mail.txt", TREE["iso2022jp_text.txt"])
        utf16 = self.put("win.txt", TREE["utf16_text.txt"])
        sjis = self.put("sjis.txt", TREE["sjis_text.txt"])
        visits = "".join(f'(find-file "{path}") (princ (format "%s\\n" (coding-system-base '
                         f'buffer-file-coding-system)))' for path in (po, tex, sjis_named, euc, iso,
                                                                      utf16, sjis))
        out = run_emacs(self.work, f"""(progn
          (add-to-list 'file-coding-system-alist '("\\\\.sjis\\\\'" . euc-jp))
          (codepage-guess-mode 1)
          {visits})""")
        self.assertEqual(out.split(), ["japanese-iso-8bit", "iso-latin-1", "japanese-iso-8bit",
                                       "japanese-iso-8bit", "iso-2022-jp", "utf-16le-with-signature",
                                       "japanese-cp932"])

    def test_emacs_runs_the_scan_only_for_a_visited_file(self):
        log = os.path.join(self.work, "runs.log")
        wrapper = os.path.join(self.work, "codepage-guess")
        for name, real in (("codepage-guess", "codepage-guess"), ("codepage-guess-scan", "codepage-scan")):
            path = os.path.join(self.work, name)
            with open(path, "w") as f:
                f.write(f'#!/bin/sh\necho "{name} $*" >> {log}\n'
                        f'exec {os.path.join(STAGE, "usr/bin", real)} "$@"\n')
            os.chmod(path, 0o755)
        lisp = self.put("helper.el", b'(defvar helper-loaded t)\n;; \x82\xa0 in Shift_JIS\n')
        text = self.put("data.txt", TREE["sjis_text.txt"])
        self.put(".dir-locals.el", b"((nil . ((fill-column . 70))))\n")
        out = run_emacs(self.work, f"""(progn
          (codepage-guess-mode 1)
          (load "{lisp}" nil t)
          (with-temp-buffer (insert-file-contents "{text}"))
          (princ (if (file-exists-p "{log}") "ran" "none"))
          (find-file "{text}")
          (princ (format " %s" (coding-system-base buffer-file-coding-system))))""", command=wrapper)
        self.assertEqual(out, "none japanese-cp932")
        with open(log) as f:
            self.assertEqual(len(f.read().splitlines()), 1, "one process for one visit")

    def test_emacs_package_is_byte_compiled_with_generated_autoloads(self):
        lisp = os.path.join(STAGE, "usr/share/emacs/site-lisp")
        self.assertTrue(os.path.exists(os.path.join(lisp, "codepage-guess.elc")))
        out = run_emacs(self.work, """(princ (list (autoloadp (symbol-function 'codepage-guess-mode))
                                              (autoloadp (symbol-function 'codepage-guess-explain))
                                              (featurep 'codepage-guess)))""")
        self.assertEqual(out, "(t t nil)", "the start-up file loads the package itself")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
