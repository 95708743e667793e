#!/usr/bin/env python3
"""codepage-cat end to end, alone and as the filter of git, ripgrep, less and bat.

usage: test_cat.py --cat EXE [--launcher CMD]... [unittest options]

Every file is made here: Japanese text in each encoding by Python's codecs (and
iconv for code page 932 as Windows writes it), and the expected UTF-8 is
Python's reading of it. The hosts are the real programs, with the
configuration their manuals give; a test whose host is not installed is
skipped (CI installs them all).
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cat", required=True)
    parser.add_argument("--launcher", action="append", default=[])
    return parser.parse_known_args()


ARGS, UNITTEST_ARGS = arguments()
CAT = [os.path.abspath(ARGS.cat)] if os.path.exists(ARGS.cat) else [ARGS.cat]
COMMAND = ARGS.launcher + CAT
# The hosts run the filter themselves: only a program of this system.
HOSTS = unittest.skipIf(ARGS.launcher, "the hosts need a program they can run")
TEXT = open(os.path.join(ROOT, "tests", "trees", "japanese.txt"), encoding="utf-8").read()
# Lines EUC-JP and ISO-2022-JP have too (no NEC symbols).
PLAIN = "".join(line + "\n" for line in TEXT.splitlines()[:12] if line)


def cp932(text):
    """Text in Shift_JIS as Windows writes it."""
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout


def cat(*args, stdin=None, check=True, env=None):
    result = subprocess.run(COMMAND + list(args), input=stdin, capture_output=True,
                            timeout=120, env=env)
    if check and result.returncode != 0:
        raise AssertionError(f"codepage-cat {args}: status {result.returncode}: {result.stderr}")
    return result


def needs(program):
    return unittest.skipIf(shutil.which(program) is None, f"needs {program}")


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="codepage_cat_")
        self.addCleanup(shutil.rmtree, self.dir)

    def put(self, name, data):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path


# name: (bytes, what codepage-cat must write)
def kinds():
    mixed_lines = [TEXT.splitlines()[2] + "\n", "// 更新: 修正しました\n", TEXT.splitlines()[4] + "\n"]
    latin1 = "café crème, À LA CARTE\n".encode("latin-1")
    binary = b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + bytes(range(256))
    return {
        "shift_jis.txt": (cp932(TEXT), TEXT.encode()),
        "shift_jis_crlf.txt": (cp932(TEXT.replace("\n", "\r\n")), TEXT.replace("\n", "\r\n").encode()),
        "backslash.txt": (cp932("C:\\Users\\田中 ~/memo ｶﾀｶﾅ\n"), "C:\\Users\\田中 ~/memo ｶﾀｶﾅ\n".encode()),
        "euc-jp.txt": (PLAIN.encode("euc_jp"), PLAIN.encode()),
        "iso-2022-jp.txt": (PLAIN.encode("iso2022_jp"), PLAIN.encode()),
        "utf-16le.txt": (b"\xff\xfe" + TEXT.encode("utf-16-le"), TEXT.encode()),
        "utf-16be.txt": (b"\xfe\xff" + TEXT.encode("utf-16-be"), TEXT.encode()),
        "utf-32le.txt": (b"\xff\xfe\x00\x00" + TEXT.encode("utf-32-le"), TEXT.encode()),
        "mixed.txt": (cp932(mixed_lines[0]) + mixed_lines[1].encode() + cp932(mixed_lines[2]),
                      "".join(mixed_lines).encode()),
        "utf-8.txt": (TEXT.encode(), TEXT.encode()),
        "utf-8_bom.txt": (b"\xef\xbb\xbf" + TEXT.encode(), b"\xef\xbb\xbf" + TEXT.encode()),
        "ascii.txt": (b"plain ASCII\n", b"plain ASCII\n"),
        "empty.txt": (b"", b""),
        "latin1.txt": (latin1, latin1),
        "binary.bin": (binary, binary),
    }


class Alone(Folder):
    def test_each_kind_as_utf8(self):
        for name, (data, expected) in kinds().items():
            path = self.put(name, data)
            with self.subTest(name):
                self.assertEqual(cat(path).stdout, expected)
                # The same through a pipe, and as "-".
                self.assertEqual(cat(stdin=data).stdout, expected)
                self.assertEqual(cat("-", stdin=data).stdout, expected)

    def test_files_one_after_another_and_a_missing_one_said(self):
        table = kinds()
        a = self.put("a.txt", table["shift_jis.txt"][0])
        b = self.put("b.txt", table["euc-jp.txt"][0])
        result = cat(a, os.path.join(self.dir, "missing.txt"), b, self.dir, check=False)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, table["shift_jis.txt"][1] + table["euc-jp.txt"][1])
        self.assertIn(b"missing.txt: No such file or directory", result.stderr)
        self.assertIn(b"Is a directory", result.stderr)

    @unittest.skipIf(ARGS.launcher or os.geteuid() != 0 or shutil.which("setpriv") is None,
                     "needs root to become another user, setpriv and a POSIX program")
    def test_a_file_another_user_may_not_read_is_said_and_the_rest_written(self):
        os.chmod(self.dir, 0o755)
        table = kinds()
        readable = self.put("a.txt", table["shift_jis.txt"][0])
        secret = self.put("secret.txt", table["euc-jp.txt"][0])
        os.chmod(readable, 0o644)
        os.chmod(secret, 0o600)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        result = subprocess.run(nobody + COMMAND + [secret, readable], capture_output=True,
                                timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, table["shift_jis.txt"][1])
        self.assertEqual(result.stderr, f"codepage-cat: {secret}: Permission denied\n".encode())

    def test_a_long_pipe_is_decoded_whole(self):
        text = TEXT * (3 * (1 << 20) // len(TEXT))
        self.assertEqual(cat(stdin=cp932(text)).stdout, text.encode())

    def test_undecodable_bytes_become_fffd_or_with_strict_an_error(self):
        # E9 is a lead byte of Shift_JIS, and a newline no trail.
        path = self.put("latin1.txt", "café\n".encode("latin-1"))
        self.assertEqual(cat(path).stdout, "café\n".encode("latin-1"))
        self.assertEqual(cat("--from", "shift_jis", path).stdout, "caf\ufffd\n".encode())
        strict = cat("--strict", "--from", "shift_jis", path, check=False)
        self.assertEqual(strict.returncode, 1)
        self.assertEqual(strict.stdout, b"caf")
        self.assertIn(b"a byte at 3 does not decode as shift_jis", strict.stderr)
        # Short Japanese that no rule can tell from Latin text is left as it is,
        # and decoded when asked.
        phone = self.put("phone.txt", cp932("電話"))
        self.assertEqual(cat(phone).stdout, cp932("電話"))
        self.assertEqual(cat("-f", "shift_jis", phone).stdout, "電話".encode())

    def test_a_reader_that_goes_away_ends_it_quietly(self):
        path = self.put("big.txt", cp932(TEXT * 2000))
        head = subprocess.Popen(["head", "-c", "100"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL)
        proc = subprocess.Popen(COMMAND + [path], stdout=head.stdin, stderr=subprocess.PIPE)
        head.stdin.close()
        _, err = proc.communicate(timeout=60)
        head.wait(timeout=60)
        self.assertIn(proc.returncode, (-signal.SIGPIPE, 1))
        self.assertEqual(err, b"")

    def test_an_output_that_cannot_be_written_is_said(self):
        # None of them a reader gone away.
        path = self.put("sjis.txt", cp932(TEXT))

        def into(name, mode):
            def run(args):
                with open(name, mode) as out:
                    return subprocess.run(COMMAND + args, stdout=out, stderr=subprocess.PIPE,
                                          timeout=120)
            return run

        def closed(args):
            return subprocess.run(["sh", "-c", 'exec "$@" >&-', "sh"] + COMMAND + args,
                                  stderr=subprocess.PIPE, timeout=120)

        outputs = {"a file opened for reading only": into(path, "rb"),
                   "a full disk": into("/dev/full", "wb")}
        # Wine gives a program whose standard output is closed one of its own.
        if not ARGS.launcher:
            outputs["closed"] = closed
        for what, run in outputs.items():
            for args in ([path], ["--version"]):
                with self.subTest(what, args=args):
                    result = run(args)
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertIn(b"codepage-cat: write error: ", result.stderr)

    def test_a_closed_standard_input_is_said(self):
        for args in ([], ["-"]):
            result = subprocess.run(["sh", "-c", 'exec "$@" <&-', "sh"] + COMMAND + args,
                                    capture_output=True, timeout=120)
            self.assertEqual(result.returncode, 1, args)
            self.assertEqual(result.stdout, b"")
            self.assertIn(b"codepage-cat: standard input: ", result.stderr)

    def test_wrong_command_lines(self):
        for args in (["--from", "klingon"], ["--frob"], ["-f"]):
            result = cat(*args, check=False)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"Try 'codepage-cat --help'", result.stderr)
        self.assertIn(b"LESSOPEN", cat("--help").stdout)


@HOSTS
class Hosts(Folder):
    """The programs codepage-cat is made for, each as its manual says."""

    def files(self):
        table = kinds()
        return {name: table[name] for name in
                ("shift_jis.txt", "euc-jp.txt", "utf-16le.txt", "mixed.txt", "utf-8.txt")}

    @needs("git")
    def test_git_diff_log_and_blame_show_the_text(self):
        repo = os.path.join(self.dir, "repo")
        os.makedirs(repo)
        env = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=self.dir, GIT_PAGER="cat")
        git = lambda *a: subprocess.run(["git", "-c", "core.quotepath=off", *a], cwd=repo,
                                        env=env, capture_output=True, check=True).stdout
        git("init", "-q")
        git("config", "user.email", "t@example.com")
        git("config", "user.name", "t")
        # The user's own configuration stays; the filter is added beside it.
        git("config", "diff.japanese.textconv", " ".join(CAT))
        with open(os.path.join(repo, ".gitattributes"), "w") as f:
            f.write("*.txt diff=japanese\n")
        before = {}
        for name, (data, _) in self.files().items():
            with open(os.path.join(repo, name), "wb") as f:
                f.write(data)
            before[name] = data
        git("add", ".")
        git("commit", "-q", "-m", "legacy files")
        changed = "変更した行です\n"
        for name, (data, _) in self.files().items():
            encoding = {"shift_jis.txt": "cp932", "euc-jp.txt": "euc_jp",
                        "utf-16le.txt": "utf-16-le", "mixed.txt": "cp932", "utf-8.txt": "utf-8"}[name]
            with open(os.path.join(repo, name), "ab") as f:
                f.write(changed.encode(encoding))
        diff = git("diff").decode("utf-8")
        for name in self.files():
            self.assertIn(f"+++ b/{name}", diff)
        self.assertEqual(diff.count("+" + changed), len(self.files()), diff)
        self.assertIn(" " + TEXT.splitlines()[-1], diff)
        raw = git("diff", "--no-textconv")
        self.assertIn(b"Binary files", raw)  # UTF-16 is binary to git without the filter
        git("commit", "-qam", "change")
        log = git("log", "-p", "-1").decode("utf-8")
        self.assertEqual(log.count("+" + changed), len(self.files()))
        blame = git("blame", "shift_jis.txt").decode("utf-8")
        self.assertIn(changed.strip(), blame)

    @needs("rg")
    def test_ripgrep_searches_every_encoding(self):
        tree = os.path.join(self.dir, "tree")
        for name, (data, _) in self.files().items():
            self.put(os.path.join("tree", name), data)
        self.put(os.path.join("tree", "latin1.txt"), "café\n".encode("latin-1"))
        word = "ファイル"
        found = subprocess.run(["rg", "--no-config", "--pre", " ".join(CAT), "--sort", "path", "-c",
                                word, tree], capture_output=True, check=True).stdout.decode()
        counts = {os.path.basename(line.rsplit(":", 1)[0]): int(line.rsplit(":", 1)[1])
                  for line in found.splitlines()}
        expected = {name: text.decode().count(word) for name, (_, text) in self.files().items()
                    if word in text.decode()}
        self.assertEqual(counts, expected)
        # Without the filter, only the UTF-8 file is found.
        plain = subprocess.run(["rg", "--no-config", "-l", word, tree], capture_output=True).stdout
        self.assertNotIn(b"shift_jis.txt", plain)

    @needs("less")
    def test_less_shows_the_text_through_lessopen(self):
        for name, (data, expected) in self.files().items():
            path = self.put(name, data)
            env = dict(os.environ, LESSOPEN="|" + " ".join(CAT) + " %s", LESSCHARSET="utf-8",
                       LESS="")
            shown = subprocess.run(["less", path], capture_output=True, env=env, timeout=60,
                                   stdin=subprocess.DEVNULL, check=True).stdout
            self.assertEqual(shown, expected, name)

    @needs("batcat")
    def test_bat_reads_it_through_a_pipe(self):
        for name, (data, expected) in self.files().items():
            path = self.put(name, data)
            piped = subprocess.Popen(COMMAND + [path], stdout=subprocess.PIPE)
            shown = subprocess.run(["batcat", "--plain", "--paging=never", "--color=never",
                                    "--file-name", name], stdin=piped.stdout,
                                   capture_output=True, timeout=60, check=True).stdout
            piped.wait(timeout=60)
            piped.stdout.close()
            self.assertEqual(shown, expected, name)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + UNITTEST_ARGS, verbosity=2)
