"""Assembles one recording: utterances separated by gaps, noise at a given SNR, a random gain."""
import shutil

import numpy as np

import noise
import speech
from labels import speech_intervals
from wavio import RATE

SNRS = {'clean': None, '20': 20.0, '10': 10.0, '5': 5.0, '0': 0.0}


def place_speech(n, rng, next_speaker, tmpdir):
    """Clean speech of n samples and its intervals: utterances with gaps and long pauses."""
    out = np.zeros(n)
    intervals = []
    t = int(rng.uniform(0, 1.5) * RATE) if rng.random() < 0.8 else int(rng.uniform(2, 6) * RATE)
    t = min(t, n // 3)
    misses = 0
    while misses < 4:
        u = speech.synth(next_speaker(), rng, tmpdir).astype(np.float64)
        iv = speech_intervals(u) if len(u) else []
        if not iv or t + len(u) > n - RATE // 10:
            misses += 1
            if misses == 4 and not intervals and t > 0:
                t, misses = 0, 0  # nothing fits yet: start at the beginning
            continue
        active = np.concatenate([u[s:e] for s, e in iv])
        u *= 10 ** (rng.uniform(-6, 6) / 20) / (np.sqrt(np.mean(active ** 2)) + 1e-12)
        out[t:t + len(u)] += u
        intervals += [(t + s, t + e) for s, e in iv]
        t += len(u)
        # Mostly short gaps (0.2-3 s, skewed short), now and then a long non-speech stretch.
        gap = rng.uniform(3, 10) if rng.random() < 0.1 else 0.2 + 2.8 * rng.random() ** 2
        t += int(gap * RATE)
        if t >= n:
            break
    return out, intervals


def finish(x, level_db, rng):
    """Scales x so its reference power sits at level_db dBFS (never past full scale), adds
    triangular dither and rounds to int16."""
    g = 10 ** (level_db / 20)
    peak = np.max(np.abs(x)) if len(x) else 0.0
    if peak * g > 0.98:
        g = 0.98 / peak
    y = x * g * 32768.0 + rng.uniform(-0.5, 0.5, len(x)) + rng.uniform(-0.5, 0.5, len(x))
    return np.clip(np.round(y), -32768, 32767).astype(np.int16)


def speech_power(x, intervals):
    if not intervals:
        return 0.0
    return float(np.mean(np.concatenate([x[s:e] for s, e in intervals]) ** 2))


def build(plan):
    """Returns (int16 samples, speech intervals) for a plan dict with keys n, condition,
    family, speaker and seed."""
    rng = np.random.default_rng(plan['seed'])
    n = plan['n']
    tmpdir = speech.make_tmpdir()
    try:
        if plan['condition'] == 'nospeech':
            intervals = []
            x = np.zeros(n) if plan['family'] == 'none' else noise.generate(plan['family'], n, rng)
            return finish(x, rng.uniform(-65, -10), rng), intervals
        x, intervals = place_speech(n, rng, lambda: plan['speaker'], tmpdir)
        ps = speech_power(x, intervals)
        snr = SNRS[plan['condition']]
        if snr is not None and ps > 0:
            x = x + noise.generate(plan['family'], n, rng) * np.sqrt(ps / 10 ** (snr / 10))
        ref = ps if ps > 0 else float(np.mean(x ** 2)) + 1e-12
        return finish(x / np.sqrt(ref), rng.uniform(-45, -10), rng), intervals
    finally:
        shutil.rmtree(tmpdir, ignore_errors=True)


def build_sample(seconds, seed):
    """The shipped sample: several voices with gaps over quiet music and pink noise, 15 dB SNR."""
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    voices = ['asterisk-en', 'espeak-de+f3', 'asterisk-en', 'espeak-fr-fr+m3', 'espeak-en-us']
    order = iter(voices * 10)
    tmpdir = speech.make_tmpdir()
    try:
        x, intervals = place_speech(n, rng, lambda: next(order), tmpdir)
    finally:
        shutil.rmtree(tmpdir, ignore_errors=True)
    ps = speech_power(x, intervals)
    bg = noise.unit(noise.unit(noise.music(n, rng, noise.TRAIN_TRACKS[:1])) +
                    0.5 * noise.unit(noise.slope(n, rng, 0.5)))
    x = x + bg * np.sqrt(ps / 10 ** 1.5)
    return finish(x / np.sqrt(ps), -22.0, rng), intervals
