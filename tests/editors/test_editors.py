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
gets is the one the plug-ins' rule gives (the tool says UTF-8: UTF-8; it says
Shift_JIS: CP932, unless the file is valid UTF-8; otherwise what the editor
does without the plug-in), the text read is the expected text (the buffer
written out as UTF-8 equals the UTF-8 original), and saving without changes
writes back exactly the original bytes. Set SHOW_DEFAULTS=1 to print how the
editors do without the plug-ins.
"""
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
}


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def expected_encoding(path, data):
    """The plug-ins' rule: the tool says UTF-8, UTF-8; it says Shift_JIS,
    CP932 unless the file is valid UTF-8; otherwise None, the editor's own
    choice."""
    verdict = tool_verdict(path)
    if verdict == "code.page=65001":
        return "utf-8"
    if verdict == "code.page=932":
        return "utf-8" if is_utf8(data) else "cp932"
    return None


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
            (write-region (format "%s\\n%s\\n%f\\n"
                                  (coding-system-base buffer-file-coding-system)
                                  (coding-system-eol-type buffer-file-coding-system)
                                  (- (float-time) start))
                          nil "{report}"))
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
    name = {"japanese-cp932": "cp932", "utf-8": "utf-8", "prefer-utf-8": "utf-8"}.get(lines[0], lines[0])
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
                    text = data.decode("cp932" if expected == "cp932" else "utf-8")
                    if expected == "cp932":  # Windows' mapping, as iconv has it
                        text = subprocess.run(["iconv", "-f", "CP932", "-t", "UTF-8"], input=data,
                                              capture_output=True, check=True).stdout.decode()
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


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
