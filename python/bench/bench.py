#!/usr/bin/env python3
"""The codepage_guess module against chardet and charset-normalizer (Debian's
packages): time per call on 4 KiB and 1 MiB of Japanese text in UTF-8 and
Shift_JIS (as Windows writes it), the module's cost over the C call, and how
often each is right on short fragments of Japanese text.

usage: bench.py [CODEPAGE_GUESS_BENCH]   (the C benchmark binary, for the C call's time)
"""
import json
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path

import chardet
import charset_normalizer

import codepage_guess

ROOT = Path(__file__).resolve().parents[2]
TEXT = (ROOT / "tests" / "trees" / "japanese.txt").read_text(encoding="utf-8") + "\n" + \
       (ROOT / "examples" / "japanese_utf8.txt").read_text(encoding="utf-8")


def cp932(text):
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout


def sized(data, size):
    return (data * (size // len(data) + 1))[:size]


def per_call(call, data, budget=0.3):
    """Median seconds of one call, over rounds that fill about `budget` s."""
    start = time.perf_counter()
    call(data)
    once = max(time.perf_counter() - start, 1e-7)
    rounds = max(1, min(100000, int(budget / 9 / once)))
    times = []
    for _ in range(9):
        start = time.perf_counter()
        for _ in range(rounds):
            call(data)
        times.append((time.perf_counter() - start) / rounds)
    return statistics.median(times)


PEERS = {
    "codepage_guess": codepage_guess.guess,
    "chardet": chardet.detect,
    "charset-normalizer": lambda data: charset_normalizer.from_bytes(data).best(),
}


def right(name, data, encoding):
    expected = {"sjis": ("cp932", "shift_jis", "windows-31j"), "utf8": ("utf-8", "utf_8", "ascii")}[encoding]
    if name == "codepage_guess":
        return codepage_guess.codec(data) == ("cp932" if encoding == "sjis" else "utf-8")
    if name == "chardet":
        found = chardet.detect(data)["encoding"]
    else:
        best = charset_normalizer.from_bytes(data).best()
        found = best.encoding if best else None
    return (found or "").lower().replace("-", "_").replace("utf_8", "utf-8") in \
        [e.replace("-", "_").replace("utf_8", "utf-8") for e in expected]


def main():
    print(f"Python {sys.version.split()[0]}, chardet {chardet.__version__}, "
          f"charset-normalizer {charset_normalizer.__version__}\n")
    print("| input | " + " | ".join(PEERS) + " |")
    print("|---|" + "---|" * len(PEERS))
    utf8, sjis = TEXT.encode(), cp932(TEXT)
    small = {}
    for label, data in (("UTF-8", utf8), ("Shift_JIS", sjis)):
        for size_label, size in (("4 KiB", 4096), ("1 MiB", 1 << 20)):
            bytes_ = sized(data, size)
            times = [per_call(call, bytes_, budget=0.3 if name == "codepage_guess" else 2)
                     for name, call in PEERS.items()]
            if size == 4096:
                small[label] = times[0]
            cells = [f"{times[0] * 1e6:.2f} µs"] + \
                    [f"{t * 1e3:.2f} ms ({t / times[0]:.0f}×)" for t in times[1:]]
            print(f"| Japanese {label}, {size_label} | " + " | ".join(cells) + " |")

    if len(sys.argv) > 1:
        run = subprocess.run([sys.argv[1], "--benchmark_filter=cpg_guess_4KiB/japanese_", "--benchmark_format=json",
                              "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
                             capture_output=True, text=True, check=True)
        for entry in json.loads(run.stdout)["benchmarks"]:
            if entry["name"].endswith("_median"):
                label = "UTF-8" if "utf8" in entry["name"] else "Shift_JIS"
                c_call = entry["real_time"] / 1e3  # ns to µs
                print(f"\n4 KiB of {label}: the C call {c_call:.2f} µs, from Python "
                      f"{small[label] * 1e6:.2f} µs: {small[label] * 1e6 - c_call:.2f} µs more")

    characters = [c for c in TEXT if ord(c) > 0x2000 and c != "\u3000"]
    rng = random.Random(3)
    print("\n| fragments of Japanese text | " + " | ".join(PEERS) + " |")
    print("|---|" + "---|" * len(PEERS))
    for length in (2, 4, 8):
        fragments = []
        for _ in range(200):
            start = rng.randrange(len(characters) - length)
            fragments.append("".join(characters[start:start + length]))
        sjis_fragments = cp932("\n".join(fragments)).split(b"\n")
        for label, encoding, inputs in (("Shift_JIS", "sjis", sjis_fragments),
                                        ("UTF-8", "utf8", [f.encode() for f in fragments])):
            scores = [sum(right(name, data, encoding) for data in inputs) for name in PEERS]
            print(f"| {length} characters in {label} | " +
                  " | ".join(f"{s} of {len(inputs)}" for s in scores) + " |")


if __name__ == "__main__":
    main()
