#!/usr/bin/env python3
"""How the Shift_JIS reading scores Japanese text and Latin-1 text that both
happen to be valid Shift_JIS: the measurements behind codepage-convert's
--min-score. Japanese comes from the project's own samples, cut into
fragments of 1 to 64 characters and whole paragraphs and encoded as Windows
writes them (iconv -t CP932); Latin-1 from sentences in five languages.
Only inputs that the Shift_JIS reading meets no broken byte in are counted:
the others are never converted whatever they score.

usage: bench/convert_threshold.py [CODEPAGE_SCAN]   (default: build/release/codepage-scan)
"""
import json
import os
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCAN = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "build" / "release" / "codepage-scan")

LATIN = [
    "À la carte, s'il vous plaît : crème brûlée, pâté, café au lait.",
    "Élève, écoute : l'été dernier, nous étions à Genève chez Hélène.",
    "Ça coûte très cher, mais ÇA VAUT LE DÉTOUR. Où êtes-vous né ?",
    "Über den Wolken muß die Freiheit wohl grenzenlos sein, sagt Jürgen.",
    "Größe, Gemütlichkeit und Ärger: die Übersetzung fällt schwer.",
    "ÄÖÜ ärgern Öl über Ähren; Fußgänger gehen zügig über die Straße.",
    "El niño pidió una canción; la señora respondió con cortesía.",
    "¿Dónde está el baño? ¡Qué sorpresa! Mañana iré a León.",
    "A Conceição mora em São Paulo; não há opção melhor, disse João.",
    "Perché è così difficile? Già, però la città è bellissima.",
    "ÉTÉ ÉCOLE ÀÉÈÇ ÎLE ÔTER ÂME ÛNE ÜBER ÄRA ÖDE ÑANDÚ",
]


def japanese_texts():
    texts = [(ROOT / "tests" / "trees" / "japanese.txt").read_text(encoding="utf-8"),
             (ROOT / "examples" / "japanese_utf8.txt").read_text(encoding="utf-8")]
    return [line for text in texts for line in text.splitlines() if line.strip()]


def samples():
    rng = random.Random(7)
    lines = japanese_texts()
    out = []
    for line in lines:
        out.append(("Japanese, whole lines", line))
    for length in (1, 2, 4, 8, 16, 32, 64):
        for _ in range(150):
            line = rng.choice([x for x in lines if len(x) >= length])
            start = rng.randrange(len(line) - length + 1)
            out.append((f"Japanese, {length} characters", line[start:start + length]))
    for sentence in LATIN:
        out.append(("Latin-1, whole sentences", sentence))
        for length in (4, 8, 16, 32):
            for start in range(0, max(1, len(sentence) - length), 3):
                out.append((f"Latin-1, {length} characters", sentence[start:start + length]))
    return out


def encode(kind, text):
    if kind.startswith("Latin-1"):
        return text.encode("latin-1")
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout


def main():
    found = {}
    with tempfile.TemporaryDirectory() as work:
        kinds = {}
        for k, (kind, text) in enumerate(samples()):
            name = f"{k:05d}"
            pathlib.Path(work, name).write_bytes(encode(kind, text))
            kinds[name] = kind
        scan = subprocess.run([SCAN, "--json", "--explain", work], capture_output=True, check=True)
        for line in scan.stdout.decode().splitlines():
            entry = json.loads(line)
            utf8, sjis = entry["readings"]
            if sjis["errors"] == 0 and utf8["errors"] > 0:
                found.setdefault(kinds[os.path.basename(entry["path"])], []).append(sjis["score"])
    print("| input (valid Shift_JIS, broken UTF-8) | count | lowest | median | highest | "
          "at 0.05 or more | at 0.1 or more |")
    print("|---|---|---|---|---|---|---|")
    def order(kind):
        words = kind.replace(",", "").split()
        return words[0], int(words[1]) if words[1].isdigit() else 1 << 20

    for kind in sorted(found, key=order):
        scores = found[kind]
        share = [100 * sum(s >= t for s in scores) / len(scores) for t in (0.05, 0.1)]
        print(f"| {kind} | {len(scores)} | {min(scores):.3f} | {statistics.median(scores):.3f} | "
              f"{max(scores):.3f} | {share[0]:.0f}% | {share[1]:.0f}% |")


if __name__ == "__main__":
    main()
