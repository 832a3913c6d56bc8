"""Assembles one recording: utterances separated by gaps, noise at a given SNR, a random gain;
recordings of real voices and sounds also pass through a room, a microphone and a channel."""
import shutil

import numpy as np

import augment
import noise
import real
import speech
from labels import speech_intervals
from wavio import RATE

SNRS = {'clean': None, '20': 20.0, '10': 10.0, '5': 5.0, '0': 0.0}


def place_speech(n, rng, next_speaker, tmpdir, say=None):
    """Clean speech of n samples and its intervals: utterances with gaps and long pauses.
    `say(speaker)` gives one utterance (default: the synthetic and prompt voices)."""
    out = np.zeros(n)
    intervals = []
    t = int(rng.uniform(0, 1.5) * RATE) if rng.random() < 0.8 else int(rng.uniform(2, 6) * RATE)
    t = min(t, n // 3)
    misses = 0
    while misses < 4:
        spk = next_speaker()
        u = (say(spk) if say else speech.synth(spk, rng, tmpdir)).astype(np.float64)
        iv = speech_intervals(u, real.TAIL_DB.get(spk.split(':')[1]) if spk.startswith('real:')
                              else None) if len(u) else []
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
    return dithered_int16(x * g, rng)


def dithered_int16(y, rng):
    """Full-scale floats y to int16 samples, with triangular dither."""
    y = y * 32768.0 + rng.uniform(-0.5, 0.5, len(y)) + rng.uniform(-0.5, 0.5, len(y))
    return np.clip(np.round(y), -32768, 32767).astype(np.int16)


def speech_power(x, intervals):
    if not intervals:
        return 0.0
    return float(np.mean(np.concatenate([x[s:e] for s, e in intervals]) ** 2))


def build(plan):
    """Returns (int16 samples, speech intervals) for a plan dict with keys n, condition,
    family, speaker and seed (and split: recordings of the real splits are built by
    build_real)."""
    if plan.get('split', 'valid-synth') != 'valid-synth':
        return build_real(plan)
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


# Corpus noise families of the real splits drawn from the families of the decoded cache.
REAL_FAMILIES = {'music': ['music'], 'ambience': ['ambience'], 'instrument': ['instrument'],
                 'everyday': ['everyday', 'machine', 'effects', 'keyboard', 'human-nonspeech'],
                 'water': ['water'], 'tones': ['tones']}
# Sparse sounds (footsteps, doors, impacts, clicks, effects) with silence between them.
SPARSE_FAMILIES = ['everyday', 'effects', 'keyboard', 'machine']
# Real splits: shares of the channel effects.
REVERB_SHARE = 0.3
EQ_SHARE = 0.5
PHONE_SHARE = 0.15
CLIP_SHARE = 0.05
DC_SHARE = 0.1


LONG_UTTERANCE = 8 * RATE


def voice(speaker, split, rng, tmpdir):
    """One utterance of a real or synthetic voice (16 kHz floats); of a long real recording, a
    random stretch of 3 to 8 s with short fades, so that it fits short recordings too."""
    if not speaker.startswith('real:'):
        return speech.synth(speaker, rng, tmpdir)
    u = real.utterance(speaker, split, rng)
    if len(u) > LONG_UTTERANCE:
        k = int(rng.uniform(3, 8) * RATE)
        start = int(rng.integers(len(u) - k))
        u = u[start:start + k] * noise.ramp_env(k, 160)
    return u


def real_noise(family, split, n, rng):
    """Unit-power noise of a real split's family: decoded real sounds, generated hum and fans,
    or the synthetic families of noise.py."""
    if family in REAL_FAMILIES:
        parts = [f for f in REAL_FAMILIES[family] if f in real.noise_catalog(split)]
        x = real.noise(parts[rng.integers(len(parts))], split, n, rng)
    elif family == 'musicmix':  # real music over another real sound or a generated noise
        a = noise.unit(real_noise('music', split, n, rng))
        other = real_noise(['ambience', 'everyday', 'hum', 'pink'][rng.integers(4)], split, n, rng)
        x = a + other * 10 ** (rng.uniform(-10, 6) / 20)
    elif family == 'sparse':
        x = real.sparse(SPARSE_FAMILIES, split, n, rng)
    elif family == 'hum':
        x = augment.hum(n, rng)
    elif family == 'fan':
        x = augment.fan(n, rng)
    elif family == 'clicks':
        x = augment.clicks(n, rng) + 0.05 * noise.unit(noise.slope(n, rng, 0.5))
    else:
        x = noise.generate(family, n, rng)
    return noise.unit(x)


def channel(x, rng):
    """Microphone equalisation and now and then a telephone channel or codec."""
    if rng.random() < EQ_SHARE:
        x = augment.mic_eq(x, rng)
    if rng.random() < PHONE_SHARE:
        x = augment.telephone(x, rng)
    return x


def finish_real(x, rng):
    """Level of -50 to -3 dBFS for the reference power, now and then clipped or offset."""
    level = rng.uniform(-50, -3)
    y = x * 10 ** (level / 20)
    if rng.random() < CLIP_SHARE:
        y = augment.clip(y * 10 ** (rng.uniform(3, 12) / 20), rng)
    else:
        peak = np.max(np.abs(y)) if len(y) else 0.0
        if peak > 0.98:
            y *= 0.98 / peak
    if rng.random() < DC_SHARE:
        y = augment.dc_offset(y, rng)
    return dithered_int16(y, rng)


def build_real(plan):
    """A recording of a real split: voices (real, or synthetic in train) in a room, noise at the
    condition's SNR, a microphone and channel, a level; or non-speech alone."""
    rng = np.random.default_rng(plan['seed'])
    n, split = plan['n'], plan['split']
    if plan['condition'] == 'nospeech':
        x = np.zeros(n) if plan['family'] == 'none' else real_noise(plan['family'], split, n, rng)
        return finish_real(channel(x, rng) if plan['family'] != 'none' else x, rng), []
    speakers = plan['speaker'].split(',')
    order = iter(speakers[i % len(speakers)] for i in range(10 ** 6))
    tmpdir = speech.make_tmpdir()
    try:
        x, intervals = place_speech(n, rng, lambda: next(order), tmpdir,
                                    lambda spk: voice(spk, split, rng, tmpdir))
    finally:
        shutil.rmtree(tmpdir, ignore_errors=True)
    if rng.random() < REVERB_SHARE:
        x = augment.reverb(x, rng, real.impulse_responses())
    ps = speech_power(x, intervals)
    snr = SNRS[plan['condition']]
    if snr is not None and ps > 0:
        x = x + real_noise(plan['family'], split, n, rng) * np.sqrt(ps / 10 ** (snr / 10))
    x = channel(x, rng)
    ref = ps if ps > 0 else float(np.mean(x ** 2)) + 1e-12
    return finish_real(x / np.sqrt(ref), rng), intervals


def build_sample(seconds, seed):
    """The shipped sample: two voices of a held-out package (Fish Fillets NG, Dutch) taking
    turns, over FlightGear's recorded engines, wind and rain at 15 dB SNR (all GPL); also the
    files it drew."""
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    fillets = real.speech_catalog('valid')[0]['fillets']
    speakers = sorted(fillets, key=lambda s: (-len(fillets[s]), s))[:6]  # the main voices
    voices = ['real:fillets:' + speakers[i] for i in rng.choice(len(speakers), 2, replace=False)]
    real.drawn.clear()
    order = iter(voices * 20)
    x, intervals = place_speech(n, rng, lambda: next(order), None,
                                lambda spk: real.utterance(spk, 'valid', rng))
    ps = speech_power(x, intervals)
    bg = noise.unit(real.noise('ambience', 'train', n, rng, 'flightgear-data-base'))
    x = x + bg * np.sqrt(ps / 10 ** 1.5)
    return finish(x / np.sqrt(ps), -22.0, rng), intervals, list(real.drawn)
