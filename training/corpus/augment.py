"""Augmentations of 16 kHz float signals: telephone codecs, microphones, rooms, hum, clicks, levels.

Every function takes a numpy generator and returns a new array; the same generator state gives the
same result. Signals keep their length and time alignment, so frame labels of the input still fit.
"""
import os

import numpy as np

import noise
from wavio import RATE, run

PHONE_MODES = ['plain', 'ulaw', 'alaw', 'gsm', 'g722', 'mp3']
# Samples the round trip shifts the signal by (at 16 kHz), measured by cross-correlation.
PHONE_DELAY = {'plain': 0, 'ulaw': 0, 'alaw': 0, 'gsm': 0, 'g722': 22, 'mp3': 2210}

F32_16K = ['-t', 'f32', '-r', str(RATE), '-c', '1']
FFMPEG = ['ffmpeg', '-nostdin', '-hide_banner', '-loglevel', 'error']


def _fit(y, n, delay):
    """y without its first delay samples, cut or zero-padded to n samples."""
    y = y[delay:delay + n]
    return np.pad(y, (0, n - len(y))) if len(y) < n else y


def _f32(raw):
    return np.frombuffer(raw, dtype='<f4').astype(np.float64)


def _sox8k(x, codec):
    """Round trip through an 8 kHz sox format ('f32', 'ul', 'al' or 'gsm')."""
    mid = ['-t', codec, '-r', '8000', '-c', '1']
    coded = run(['sox', '-D', '-V1'] + F32_16K + ['-'] + mid + ['-'], x.astype('<f4').tobytes())
    return _f32(run(['sox', '-D', '-V1'] + mid + ['-'] + F32_16K + ['-'], coded))


def _ffmpeg_trip(x, enc_args, fmt):
    """Encodes 16 kHz floats with ffmpeg into container fmt and decodes back to 16 kHz floats."""
    pcm = ['-f', 'f32le', '-ar', str(RATE), '-ac', '1']
    coded = run(FFMPEG + pcm + ['-i', '-'] + enc_args + ['-f', fmt, '-'], x.astype('<f4').tobytes())
    return _f32(run(FFMPEG + ['-f', fmt, '-i', '-'] + pcm + ['-'], coded))


def telephone(x, rng, mode=None):
    """Narrow band: through 8 kHz and back, with one codec round trip drawn at random."""
    mode = mode or PHONE_MODES[rng.integers(len(PHONE_MODES))]
    peak = np.max(np.abs(x)) if len(x) else 0.0
    if peak == 0.0:
        return np.zeros(len(x))
    s = 0.7 / peak
    xs = x * s
    if mode in ('plain', 'g722'):
        y = _sox8k(xs, 'f32')
        if mode == 'g722':
            y = _ffmpeg_trip(_fit(y, len(x), 0), ['-c:a', 'g722'], 'g722')
    elif mode in ('ulaw', 'alaw', 'gsm'):
        y = _sox8k(xs, {'ulaw': 'ul', 'alaw': 'al', 'gsm': 'gsm'}[mode])
    else:
        rate = ['-b:a', '%dk' % (16, 24, 32)[rng.integers(3)]]
        y = _ffmpeg_trip(xs, ['-ar', '8000', '-c:a', 'libmp3lame'] + rate, 'mp3')
    return _fit(y, len(x), PHONE_DELAY[mode]) / s


def _zero_phase(x, gain_of_freq):
    """Filters x by a real gain curve (zero phase), padded to keep wrap-around small."""
    m = 1 << int(np.ceil(np.log2(len(x) + 4096)))
    f = np.fft.rfftfreq(m, 1.0 / RATE)
    return np.fft.irfft(np.fft.rfft(x, m) * gain_of_freq(np.maximum(f, 1.0)), m)[:len(x)]


def mic_eq(x, rng):
    """A random microphone: a few peaking bands of +-10 dB, a high-pass and a low-pass."""
    bands = [(np.exp(rng.uniform(np.log(100), np.log(7000))), rng.uniform(-10, 10),
              rng.uniform(0.15, 1.0)) for _ in range(rng.integers(1, 5))]
    hp, lp = rng.uniform(50, 300), rng.uniform(3500, 8000)
    hp_order, lp_order = rng.integers(1, 5), rng.integers(2, 9)

    def gain(f):
        db = sum(g * np.exp(-0.5 * (np.log2(f / fc) / width) ** 2) for fc, g, width in bands)
        shelf = 1 / np.sqrt(1 + (hp / f) ** (2 * hp_order)) / np.sqrt(1 + (f / lp) ** (2 * lp_order))
        return 10 ** (db / 20) * shelf

    return _zero_phase(x, gain)


def load_irs(ir_dir):
    """The impulse responses listed in <ir_dir>/index.tsv, as float arrays."""
    with open(os.path.join(ir_dir, 'index.tsv')) as f:
        rows = [line.rstrip('\n').split('\t') for line in f][1:]
    return [np.load(os.path.join(ir_dir, r[0])).astype(np.float64) for r in rows]


def synthetic_ir(rng):
    """Exponentially decaying noise with a reverberation time of 0.15-1.5 s, brighter early."""
    rt60 = rng.uniform(0.15, 1.5)
    n = int(rt60 * RATE)
    t = np.arange(n) / RATE
    tail = rng.standard_normal(n) * 10 ** (-3 * t / rt60)
    return _zero_phase(tail, lambda f: 1 / np.sqrt(1 + (f / rng.uniform(2000, 8000)) ** 2))


def room(rng, irs):
    """A kernel whose first sample is the direct path (1.0), followed by the reverberant tail at a
    random direct-to-reverberant ratio from about dry (+25 dB) to a large hall (-8 dB)."""
    ir = irs[rng.integers(len(irs))] if irs and rng.random() < 0.7 else synthetic_ir(rng)
    ir = ir[int(np.argmax(np.abs(ir))):]
    tail = ir[1:] / ir[0] if len(ir) > 1 else np.zeros(1)
    drr = rng.uniform(-8, 25)
    tail *= 10 ** (-drr / 20) / (np.sqrt(np.sum(tail ** 2)) + 1e-12)
    return np.concatenate([[1.0], tail])


def tail_samples(h, below_db=-30):
    """How long after a sound ends the kernel's remaining energy stays above below_db of its total."""
    rest = np.cumsum((h ** 2)[::-1])[::-1]
    return int(np.count_nonzero(rest > rest[0] * 10 ** (below_db / 10)))


def apply_room(x, h):
    m = 1 << int(np.ceil(np.log2(len(x) + len(h))))
    return np.fft.irfft(np.fft.rfft(x, m) * np.fft.rfft(h, m), m)[:len(x)]


def reverb(x, rng, irs):
    """x in a room: a real impulse response from irs (or a synthetic one), direct path undelayed."""
    return apply_room(x, room(rng, irs))


def _drift(n, rng, depth):
    """A smooth relative frequency deviation of about depth."""
    k = max(2, n // (RATE * 2) + 2)
    return 1 + np.interp(np.arange(n), np.linspace(0, n, k), rng.normal(0, depth, k))


def hum(n, rng, f0=None):
    """Mains hum: 50 or 60 Hz and a random, mostly odd harmonic series with a slight drift."""
    f0 = f0 or (50.0, 60.0)[rng.integers(2)]
    phase = 2 * np.pi * np.cumsum(f0 * _drift(n, rng, 0.002)) / RATE
    top = min(int(7800 / f0), int(rng.integers(3, 40)))
    decay, even = rng.uniform(0.3, 2.0), rng.uniform(0.02, 0.6)
    x = np.zeros(n)
    for k in range(1, top + 1):
        a = k ** -decay * (even if k % 2 == 0 else 1.0) * rng.uniform(0.5, 1.5)
        x += a * np.sin(k * phase + rng.uniform(0, 2 * np.pi))
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-12)


def fan(n, rng):
    """Fan or computer noise: shaped broadband noise, a blade or coil whine and often some hum."""
    x = noise.random_spectrum(n, rng)
    x /= np.sqrt(np.mean(x ** 2)) + 1e-12
    fw = rng.uniform(150, 6000)
    phase = 2 * np.pi * np.cumsum(fw * _drift(n, rng, 0.01)) / RATE
    x += 10 ** (rng.uniform(-30, -6) / 20) * np.sin(phase)
    if rng.random() < 0.6:
        x += 10 ** (rng.uniform(-30, -6) / 20) * hum(n, rng)
    return x / (np.sqrt(np.mean(x ** 2)) + 1e-12)


def clicks(n, rng):
    """Sparse clicks and crackles: short decaying bursts of random sign and size."""
    x = np.zeros(n)
    count = rng.poisson(max(1.0, n / RATE * rng.uniform(0.2, 6)))
    for t in np.sort(rng.integers(0, max(n, 1), count)):
        length = int(rng.uniform(0.0002, 0.004) * RATE) + 1
        burst = rng.standard_normal(length) * np.exp(-np.arange(length) / (length / 4))
        burst = burst[: n - t] * 10 ** (rng.uniform(-20, 0) / 20)
        x[t:t + len(burst)] += burst
    return x


def clip(x, rng):
    """Hard clipping at a level that a random 0.05-3 % of the samples exceed."""
    if not len(x):
        return x.copy()
    level = np.quantile(np.abs(x), 1 - rng.uniform(0.0005, 0.03))
    return np.clip(x, -level, level)


def dc_offset(x, rng):
    """A constant offset of 1-50 % of the signal's RMS, of random sign."""
    rms = np.sqrt(np.mean(x ** 2)) if len(x) else 0.0
    return x + rng.choice([-1, 1]) * rng.uniform(0.01, 0.5) * rms
