#!/usr/bin/python3
"""Joins the recordings of a split into one long recording, for the speed runs.

Usage: join.py <split-dir> <out-dir> [max-seconds]

Writes <out-dir>/long.wav (16 kHz mono 16-bit, 44-byte header) from the recordings in manifest
order, stopping before the one that would pass max-seconds (default 1800), and
<out-dir>/manifest.tsv naming it.
"""

import os
import sys
import wave


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    split, out = sys.argv[1], sys.argv[2]
    limit = float(sys.argv[3]) if len(sys.argv) > 3 else 1800.0
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(split, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        ids = [dict(zip(header, line.rstrip("\n").split("\t")))["id"] for line in f if line.strip()]
    samples = 0
    with wave.open(os.path.join(out, "long.wav"), "wb") as dst:
        dst.setnchannels(1)
        dst.setsampwidth(2)
        dst.setframerate(16000)
        for i in ids:
            with wave.open(os.path.join(split, i + ".wav"), "rb") as src:
                n = src.getnframes()
                if samples > 0 and samples + n > limit * 16000:
                    break
                dst.writeframes(src.readframes(n))
                samples += n
    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        f.write("id\tcondition\tnoise_family\tspeaker\tseconds\n")
        f.write(f"long\tmixed\tmixed\tmixed\t{samples / 16000:g}\n")


if __name__ == "__main__":
    main()
