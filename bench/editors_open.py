#!/usr/bin/env python3
"""Opening a file in Vim, Neovim and Emacs with the plug-ins and without:
medians of wall times (the editor started, the file read, the editor gone),
on 4 KiB and 20 MB of Shift_JIS text.

usage: bench/editors_open.py [STAGE] [RUNS]
  STAGE: where the Debian package is installed or unpacked (default /)
  RUNS: runs of each (default 5)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STAGE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "/"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
TEXT = open(os.path.join(ROOT, "tests", "trees", "japanese.txt"), encoding="utf-8").read()
SJIS = subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=TEXT.encode(),
                      capture_output=True, check=True).stdout
ENV = dict(os.environ, LANG="C.UTF-8", PATH=os.path.join(STAGE, "usr/bin") + os.pathsep + os.environ["PATH"])


def command(editor, path, plugin):
    if editor in ("vim", "nvim"):
        root = os.path.join(STAGE, "usr/share/vim/vimfiles" if editor == "vim" else "usr/share/nvim/site")
        head = (["vim", "-N", "-u", "NONE", "-i", "NONE", "-n", "-es"] if editor == "vim" else
                ["nvim", "--headless", "-u", "NONE", "-i", "NONE", "-n"])
        setup = ["--cmd", f"set packpath^={root}"] + (["--cmd", "packadd codepage-guess"] if plugin else [])
        return head + setup + ["-c", f"edit {path}", "-c", "qall!"]
    startup = os.path.join(STAGE, "etc/emacs/site-start.d/50codepage-guess.el")
    # No question about a large file: batch Emacs would wait for an answer.
    program = (f'(progn (setq large-file-warning-threshold nil) '
               f'{"(codepage-guess-mode 1)" if plugin else ""} (find-file "{path}"))')
    return ["emacs", "--batch", "-Q", "-L", os.path.join(STAGE, "usr/share/emacs/site-lisp"), "-l", startup,
            "--eval", program]


def median_seconds(argv):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(argv, env=ENV, check=True, capture_output=True, stdin=subprocess.DEVNULL,
                       timeout=600)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    with tempfile.TemporaryDirectory() as work:
        files = {}
        for label, size in (("4 KiB", 4096), ("20 MB", 20_000_000)):
            data = (SJIS * (size // len(SJIS) + 1))[:size]
            data = data[:data.rfind(b"\n") + 1]
            files[label] = os.path.join(work, f"sjis_{size}.txt")
            with open(files[label], "wb") as f:
                f.write(data)
        print("| editor, file | with the plug-in | without | ratio |")
        print("|---|---|---|---|")
        for editor in ("vim", "nvim", "emacs"):
            for label, path in files.items():
                plugged = median_seconds(command(editor, path, True))
                plain = median_seconds(command(editor, path, False))
                print(f"| {editor}, Shift_JIS {label} | {plugged * 1000:.0f} ms | {plain * 1000:.0f} ms "
                      f"| {plugged / plain:.2f} |")


if __name__ == "__main__":
    main()
