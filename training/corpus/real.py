"""Real recordings from the decoded caches (real_speech.py, real_noise.py): speakers and noise
pieces by split, drawn at random."""
import collections
import os

import numpy as np

import augment
from wavio import RATE, read_wav16

# Cache folders; build_corpus.py sets them before the workers start.
roots = {'speech': None, 'noise': None}
# Train: no source takes more than this share of the real speech draws (narrow-band queen less);
# validation, with few sources, draws them by the square root of their hours.
SOURCE_CAP = 0.16
SOURCE_CAPS = {'queen': 0.06, 'codec2': 0.04}
# Sources whose lines end in long reverberation tails: their reference speech ends at the last
# frame within this many dB of the loud level (labels.speech_intervals).
TAIL_DB = {'fillets': 20.0}

_speech = {}
_noise = {}
# Every file drawn, in order (the shipped sample names its sources).
drawn = []


def _read_index(path):
    with open(path) as f:
        header = f.readline().rstrip('\n').split('\t')
        return [dict(zip(header, line.rstrip('\n').split('\t'))) for line in f if line.strip()]


def available(kind):
    root = roots[kind]
    return bool(root) and os.path.exists(os.path.join(root, 'READY'))


def speech_catalog(split):
    """{source: {speaker: [paths]}} of the split's real speech, and the source draw weights."""
    if split not in _speech:
        by = collections.defaultdict(lambda: collections.defaultdict(list))
        hours = collections.Counter()
        for r in _read_index(os.path.join(roots['speech'], 'index.tsv')):
            if r['split'] != split:
                continue
            by[r['source']][r['speaker']].append(os.path.join(roots['speech'], r['path']))
            hours[r['source']] += float(r['seconds']) / 3600
        sources = sorted(by)
        total = sum(hours.values())
        if split == 'train':
            w = np.array([min(hours[s] / total, SOURCE_CAPS.get(s, SOURCE_CAP)) for s in sources])
        else:
            w = np.sqrt([hours[s] for s in sources])
        _speech[split] = ({s: {k: sorted(v) for k, v in by[s].items()} for s in sources},
                          sources, w / w.sum())
    return _speech[split]


def pick_speaker(split, rng):
    """'real:<source>:<speaker>' drawn by capped source weights, then uniformly by speaker."""
    cat, sources, w = speech_catalog(split)
    src = sources[rng.choice(len(sources), p=w)]
    speakers = sorted(cat[src])
    return 'real:%s:%s' % (src, speakers[rng.integers(len(speakers))])


def utterance(speaker, split, rng):
    _, src, spk = speaker.split(':', 2)
    files = speech_catalog(split)[0][src][spk]
    path = files[rng.integers(len(files))]
    drawn.append(path)
    return read_wav16(path)


def noise_catalog(split):
    """{family: [(path, package)]} of the split's real non-speech."""
    if split not in _noise:
        by = collections.defaultdict(list)
        for r in _read_index(os.path.join(roots['noise'], 'index.tsv')):
            if r['split'] == split:
                by[r['family']].append((os.path.join(roots['noise'], r['path']), r['package']))
        _noise[split] = {k: sorted(v) for k, v in by.items()}
    return _noise[split]


def noise(family, split, n, rng, package=None):
    """n samples of real non-speech of the family (of one package, when given): random stretches
    of random pieces, joined with short cross-fades."""
    pieces = [p for p in noise_catalog(split)[family] if package in (None, p[1])]
    out = np.zeros(n)
    t = 0
    fade = 160
    tries = 0
    while t < n:
        path, _ = pieces[rng.integers(len(pieces))]
        drawn.append(path)
        x = read_wav16(path).astype(np.float64)
        tries += 1
        if (len(x) < 1600 or not np.any(x)) and tries < 50:
            continue
        if len(x) == 0:
            break
        start = int(rng.integers(max(1, len(x) - (n - t))))
        x = x[start:start + (n - t) + fade]
        x = x / (np.sqrt(np.mean(x ** 2)) + 1e-12) * 10 ** (rng.uniform(-4, 4) / 20)
        if t > 0:
            k = min(fade, len(x))
            x[:k] *= np.linspace(0, 1, k)
            t = max(0, t - k)
            out[t:t + k] *= np.linspace(1, 0, k)
        m = min(len(x), n - t)
        out[t:t + m] += x[:m]
        t += m
    return out


def sparse(families, split, n, rng):
    """n samples of sparse sounds: the starts (0.05-1.5 s, the last 10 ms faded out) of random
    real pieces of the families, each at its own level within +-10 dB, with 0.3-4 s of silence
    between them."""
    pieces = [p for f in families for p in noise_catalog(split).get(f, [])]
    out = np.zeros(n)
    t = int(rng.uniform(0, 2) * RATE)
    tries = 0
    while t < n and pieces and tries < 1000:
        tries += 1
        path, _ = pieces[rng.integers(len(pieces))]
        x = read_wav16(path).astype(np.float64)
        peak = np.max(np.abs(x)) if len(x) else 0.0
        if peak == 0.0:
            continue
        drawn.append(path)
        start = int(np.argmax(np.abs(x) > 0.1 * peak))  # the onset
        k = min(len(x) - start, int(rng.uniform(0.05, 1.5) * RATE), n - t)
        e = x[start:start + k].copy()
        fade = min(k, 160)
        e[k - fade:] *= np.linspace(1, 0, fade)
        out[t:t + k] += e / (np.sqrt(np.mean(e ** 2)) + 1e-12) * 10 ** (rng.uniform(-10, 10) / 20)
        t += k + int(rng.uniform(0.3, 4) * RATE)
    return out


_irs = []


def impulse_responses():
    """The room impulse responses decoded beside the non-speech (an empty list when none)."""
    folder = os.path.join(roots['noise'], 'ir')
    if not _irs and os.path.exists(os.path.join(folder, 'index.tsv')):
        _irs.extend(augment.load_irs(folder))
    return _irs
