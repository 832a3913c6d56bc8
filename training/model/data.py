"""Corpus reading, cached feature extraction with tarvik's own front end, the static normalisation
and the simulation of the run-time adaptive normaliser."""
import hashlib
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np

FEATURES = 39
WINDOW = 12000  # frames of the run-time normaliser's window


def read_manifest(split_dir):
    with open(os.path.join(split_dir, "manifest.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f if line.strip()]


def features_dir(cache, corpus, split):
    """Cache folder of a split's frames; one per corpus folder, so that corpora never mix."""
    key = hashlib.sha1(os.path.realpath(corpus).encode()).hexdigest()[:12]
    return os.path.join(cache, "features-" + key, split)


def extract(tool, split_dir, cache_dir, jobs):
    """Runs `tool --raw` on every recording of the split whose cached frames are missing or older
    than the recording; returns the manifest rows."""
    rows = read_manifest(split_dir)
    os.makedirs(cache_dir, exist_ok=True)

    def one(row):
        wav = os.path.join(split_dir, row["id"] + ".wav")
        out = os.path.join(cache_dir, row["id"] + ".f64")
        if os.path.exists(out) and os.path.getmtime(out) >= max(os.path.getmtime(wav),
                                                                 os.path.getmtime(tool)):
            return
        subprocess.run([tool, "--raw", wav, out + ".tmp"], check=True)
        os.replace(out + ".tmp", out)

    with ThreadPoolExecutor(jobs) as pool:
        list(pool.map(one, rows))
    return rows


def load(split_dir, cache_dir, row):
    """Raw frames (T, 39) and reference labels (T,) of one recording, cut to the shorter."""
    x = np.fromfile(os.path.join(cache_dir, row["id"] + ".f64"), dtype="<f8").reshape(-1, FEATURES)
    y = np.loadtxt(os.path.join(split_dir, row["id"] + ".ref.tsv"), dtype=np.int8, ndmin=1)
    n = min(len(x), len(y))
    return x[:n], y[:n]


def static_norm(recordings):
    """Mean and population standard deviation of the speech frames."""
    speech = np.concatenate([x[y == 1] for x, y in recordings])
    return speech.mean(0), speech.std(0)


def write_norm(path, mean, std):
    with open(path, "w") as f:
        f.write(f"{FEATURES}\n")
        f.write(" ".join(repr(float(v)) for v in mean) + "\n")
        f.write(" ".join(repr(float(v)) for v in std) + "\n")


def drifted_normalise(x, speech, mean0, std0, lag):
    """Normalises every frame as the run-time normaliser would: the static values blended with the
    statistics of the speech frames decided so far, weighted by their count over the window.
    `speech` marks the frames taken as speech; a frame's decision reaches the normaliser `lag`
    frames later. Past a full window all speech frames so far are used (long recordings only)."""
    w = speech.astype(np.float64)[:, None]
    s1 = np.cumsum(w * x, 0)
    s2 = np.cumsum(w * x * x, 0)
    c = np.cumsum(w[:, 0])
    # statistics of frames [0, t - lag) for frame t
    shift = np.zeros(len(x), dtype=np.int64) + np.arange(len(x)) - lag
    valid = shift >= 0
    idx = np.clip(shift, 0, None)
    cnt = np.where(valid, c[idx], 0.0)[:, None]
    safe = np.maximum(cnt, 1.0)
    m = np.where(valid[:, None], s1[idx], 0.0) / safe
    var = np.where(valid[:, None], s2[idx], 0.0) / safe - m * m
    sd = np.sqrt(np.maximum(var, 0.0))
    frac = np.minimum(cnt, WINDOW) / WINDOW
    means = m * frac + mean0 * (1 - frac)
    stds = sd * frac + std0 * (1 - frac)
    return (x - means) / stds


def main():
    import argparse
    p = argparse.ArgumentParser(description="Extracts (and caches) the frames of both splits.")
    p.add_argument("--corpus", required=True)
    p.add_argument("--cache", required=True)
    p.add_argument("--tool", required=True)
    p.add_argument("--jobs", type=int, default=6)
    a = p.parse_args()
    for split in ("train", "valid", "valid-synth"):
        if not os.path.exists(os.path.join(a.corpus, split, "READY")):
            continue
        rows = extract(a.tool, os.path.join(a.corpus, split), features_dir(a.cache, a.corpus, split),
                       a.jobs)
        print(f"{split}: {len(rows)} recordings")


if __name__ == "__main__":
    main()
