"""examples/python/dask_scan.py on a LocalCluster of two worker processes,
over a generated tree of a few thousand files: the result equals a serial scan
with the module and the codepage-guess verdicts."""
import json
import os
import random
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("dask.distributed")

TOOL = os.environ["CODEPAGE_GUESS"]
SOURCE = Path(os.environ["CODEPAGE_GUESS_SOURCE"])
SCRIPT = SOURCE / "examples" / "python" / "dask_scan.py"


def make_tree(root, count):
    sjis = (SOURCE / "examples" / "japanese_sjis.txt").read_bytes()
    utf8 = (SOURCE / "examples" / "japanese_utf8.txt").read_bytes()
    rng = random.Random(41)
    kinds = [sjis, utf8, b"plain ascii\n", bytes(range(256))]
    for k in range(count):
        text = rng.choice(kinds)
        start = rng.randrange(len(text))
        path = root / f"{k % 40:02d}" / f"file{k}.txt"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes((text[start:] + text)[:rng.randrange(1, 3000)])


def run(*arguments):
    result = subprocess.run([sys.executable, str(SCRIPT), *arguments], capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr[-2000:]
    return [json.loads(line) for line in result.stdout.splitlines()]


def test_two_worker_processes_give_the_serial_scan_and_the_tools_verdicts(tmp_path):
    make_tree(tmp_path, 3000)
    # Names as a Japanese Windows wrote them, which a UTF-8 system cannot decode.
    sjis_names = []
    for k in range(20):
        name = os.path.join(os.fsencode(tmp_path), b"00", f"設定{k}.txt".encode("cp932"))
        with open(name, "wb") as file:
            file.write("日本語の設定です。\n".encode("cp932"))
        sjis_names.append(name)
    distributed = run(str(tmp_path), "--workers", "2")
    serial = run(str(tmp_path), "--serial")
    assert len(distributed) == 3020
    assert distributed == serial
    scanned = subprocess.run([str(Path(TOOL).with_name("codepage-scan")), "--json", "--no-summary",
                              "--no-ignore", str(tmp_path)], capture_output=True, check=True)
    kinds = {}
    for line in scanned.stdout.splitlines():
        fields = json.loads(line)
        kinds[fields["path"]] = fields
    for entry in distributed:
        path = bytes.fromhex(entry["path_bytes"]) if "path_bytes" in entry else entry["path"]
        said = subprocess.run([TOOL, path], capture_output=True, text=True).stdout.strip()
        assert entry["code_page"] == (int(said.split("=")[1]) if said else None), entry["path"]
        if "path_bytes" in entry:
            assert path in sjis_names and entry["kind"] == "shift_jis"
        else:
            expected = kinds[entry["path"]]
            assert {k: entry[k] for k in ("kind", "bom", "ambiguous", "code_page", "rule")} == \
                {k: expected[k] for k in ("kind", "bom", "ambiguous", "code_page", "rule")}
    assert sum("path_bytes" in entry for entry in distributed) == 20
