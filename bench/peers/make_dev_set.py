#!/usr/bin/python3
"""Makes a small set of recordings in the validation layout to try the benchmark on.

Speech comes from espeak-ng (resampled to 16 kHz by sox), placed between pauses and mixed with
white, pink or brown noise at 20, 10, 5 and 0 dB SNR; there are also clean and noise-only
recordings. The reference marks each utterance from its first to its last non-silent sample.

Usage: make_dev_set.py <out-dir> [recordings per condition] [seconds per recording]
"""

import os
import subprocess
import sys
import tempfile

import numpy as np

RATE = 16000
HOP = 160
WINDOW = 400
CONDITIONS = ["clean", "20", "10", "5", "0", "nospeech"]
NOISES = ["white", "pink", "brown"]
VOICES = ["en", "en+f3", "de+m3", "fr+f2"]
SENTENCES = [
    "The quick brown fox jumps over the lazy dog.",
    "Please call me back before five o'clock tomorrow.",
    "A voice activity detector marks the parts of a recording that hold speech.",
    "Seven silver spoons lay on the kitchen table.",
    "We will meet at the station when the train arrives.",
    "Numbers like four hundred and twelve are hard to hear in noise.",
]


def speak(voice, text, work):
    """Returns the utterance as float samples in [-1, 1) at 16 kHz."""
    raw = os.path.join(work, "raw.wav")
    out = os.path.join(work, "out.raw")
    subprocess.run(["espeak-ng", "-v", voice, "-w", raw, text], check=True)
    subprocess.run(["sox", raw, "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c",
                    "1", out], check=True)
    x = np.fromfile(out, dtype="<i2").astype(np.float64) / 32768.0
    loud = np.flatnonzero(np.abs(x) > 1e-3)
    return x[loud[0]:loud[-1] + 1] if loud.size else x[:0]


def noise(family, n, rng):
    white = rng.standard_normal(n)
    if family == "white":
        y = white
    else:
        spectrum = np.fft.rfft(white)
        f = np.arange(spectrum.size, dtype=np.float64)
        f[0] = 1.0
        spectrum /= np.sqrt(f) if family == "pink" else f
        spectrum[0] = 0.0
        y = np.fft.irfft(spectrum, n)
    return y / np.sqrt(np.mean(y * y))


def layout(utterances, seconds, rng):
    """Places utterances between pauses; returns the speech signal and its speech intervals."""
    total = int(seconds * RATE)
    speech = np.zeros(total)
    intervals = []
    pos = int(rng.uniform(0.3, 1.5) * RATE)
    for u in utterances:
        if pos + u.size >= total:
            break
        speech[pos:pos + u.size] = u
        intervals.append((pos, pos + u.size))
        pos += u.size + int(rng.uniform(0.4, 2.0) * RATE)
    return speech, intervals


def reference(n_samples, intervals):
    labels = np.zeros(n_samples // HOP, dtype=np.int8)
    centres = np.arange(labels.size) * HOP + WINDOW // 2
    for start, end in intervals:
        labels[(centres >= start) & (centres < end)] = 1
    return labels


def write_wav(path, x):
    pcm = np.clip(np.round(x * 32768.0), -32768, 32767).astype("<i2")
    data = pcm.tobytes()
    header = b"RIFF" + (36 + len(data)).to_bytes(4, "little") + b"WAVEfmt "
    header += (16).to_bytes(4, "little") + (1).to_bytes(2, "little") + (1).to_bytes(2, "little")
    header += RATE.to_bytes(4, "little") + (RATE * 2).to_bytes(4, "little")
    header += (2).to_bytes(2, "little") + (16).to_bytes(2, "little")
    header += b"data" + len(data).to_bytes(4, "little")
    with open(path, "wb") as f:
        f.write(header + data)


def mix(condition, family, speech, intervals, rng):
    if condition == "clean":
        return speech * 0.5
    level = 0.5 * np.sqrt(np.mean(np.concatenate([speech[a:b] for a, b in intervals]) ** 2))
    if condition == "nospeech":
        return noise(family, speech.size, rng) * level * rng.uniform(0.1, 1.0)
    snr = float(condition)
    return speech * 0.5 + noise(family, speech.size, rng) * level * 10 ** (-snr / 20)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    per_condition = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 12.0
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(7)
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for condition in CONDITIONS:
            for k in range(per_condition):
                voice = VOICES[len(rows) % len(VOICES)]
                family = "none" if condition == "clean" else NOISES[len(rows) % len(NOISES)]
                order = rng.permutation(len(SENTENCES))
                utterances = [speak(voice, SENTENCES[i], work) for i in order]
                speech, intervals = layout(utterances, seconds, rng)
                x = mix(condition, family, speech, intervals, rng)
                speaker = f"espeak-{voice}"
                if condition == "nospeech":
                    intervals, speaker = [], "none"
                name = f"dev-{condition}-{k}"
                write_wav(os.path.join(out, name + ".wav"), x)
                labels = reference(x.size, intervals)
                with open(os.path.join(out, name + ".ref.tsv"), "w") as f:
                    f.write("".join(f"{v}\n" for v in labels))
                rows.append(f"{name}\t{condition}\t{family}\t{speaker}\t{x.size / RATE:g}")
    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        f.write("id\tcondition\tnoise_family\tspeaker\tseconds\n" + "".join(r + "\n" for r in rows))
    open(os.path.join(out, "READY"), "w").close()


if __name__ == "__main__":
    main()
