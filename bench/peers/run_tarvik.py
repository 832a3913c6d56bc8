#!/usr/bin/python3
"""Runs tarvik on every recording of a split and writes its decisions on the 10 ms grid.

Usage: run_tarvik.py <split-dir> <model-dir> <tarvik> <out-dir> [repeats]

tarvik runs once per recording (best time of `repeats` runs) with the model dir as its working
directory. Its TextGrid puts the boundary between frames j - 1 and j at j * 0.01 + 0.0075 s, so
frame j is the interval holding j * 0.01 + 0.0125 s (the centre of its samples). Writes <out-dir>/tarvik/<id>.hyp (one 0 or 1
per frame) and <out-dir>/tarvik.speed.tsv (id, audio seconds, processing seconds).
"""

import os
import re
import subprocess
import sys
import time
import wave

HOP_SECONDS = 0.01
LABELS = {"spc": 1, "sil": 0}
INTERVAL = re.compile(
    r'intervals \[\d+\]:\s*xmin = (\S+)\s*xmax = (\S+)\s*text = "([^"]*)"')


def read_manifest(split):
    with open(os.path.join(split, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        rows = [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f if line.strip()]
    return rows


def sample_count(path):
    with wave.open(path, "rb") as w:
        if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (1, 2, 16000):
            raise SystemExit(f"{path}: not 16 kHz mono 16-bit")
        return w.getnframes()


def textgrid_intervals(path):
    with open(path) as f:
        found = INTERVAL.findall(f.read())
    if not found:
        raise SystemExit(f"{path}: no intervals")
    intervals = []
    for xmin, xmax, text in found:
        if text not in LABELS:
            raise SystemExit(f"{path}: unexpected label {text!r}")
        intervals.append((float(xmin), float(xmax), LABELS[text]))
    return intervals


def frame_labels(intervals, frames):
    """Frame j starts at j * 0.01 + 0.0075 s and holds j * 0.01 + 0.0125 s, the centre of its
    samples. The TextGrid ends at the start of the last frame, so that frame takes the label of
    the last interval."""
    labels = []
    k = 0
    for j in range(frames - 1):
        t = j * HOP_SECONDS + 0.0125
        while k + 1 < len(intervals) and t >= intervals[k][1]:
            k += 1
        if not intervals[k][0] <= t < intervals[k][1]:
            raise SystemExit(f"frame {j} at {t:.4f} s lies outside the TextGrid")
        labels.append(intervals[k][2])
    if frames > 0:
        labels.append(intervals[-1][2])
    return labels


def run_once(tarvik, model_dir, wav, grid):
    start = time.perf_counter()
    done = subprocess.run([tarvik, wav, grid], cwd=model_dir, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"tarvik failed on {wav} (exit {done.returncode}):\n{done.stdout}")
    return seconds


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    split, model_dir, tarvik, out = (os.path.abspath(a) for a in sys.argv[1:5])
    repeats = int(sys.argv[5]) if len(sys.argv) > 5 else 1
    os.makedirs(os.path.join(out, "tarvik"), exist_ok=True)
    speed = ["id\taudio_seconds\tprocessing_seconds"]
    for row in read_manifest(split):
        wav = os.path.join(split, row["id"] + ".wav")
        grid = os.path.join(out, "tarvik", row["id"] + ".TextGrid")
        best = min(run_once(tarvik, model_dir, wav, grid) for _ in range(repeats))
        samples = sample_count(wav)
        labels = frame_labels(textgrid_intervals(grid), samples // 160)
        with open(os.path.join(out, "tarvik", row["id"] + ".hyp"), "w") as f:
            f.write("".join(f"{v}\n" for v in labels))
        speed.append(f"{row['id']}\t{samples / 16000:.6f}\t{best:.6f}")
    with open(os.path.join(out, "tarvik.speed.tsv"), "w") as f:
        f.write("\n".join(speed) + "\n")


if __name__ == "__main__":
    main()
