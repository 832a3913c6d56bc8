#!/usr/bin/python3
"""Audits the reference labels of the decoded real speech against a peer VAD and the signal.

    audit_labels.py --speech DIR --work DIR [--lines N] [--seed S] [--peer silero]

Draws up to N lines per source of the cache of real_speech.py, labels them as the corpus does
(labels.speech_intervals with real.TAIL_DB), runs the peer on them between 0.5 s of silence (`node
bench/peers/peers.mjs posteriors`) and
prints per source: the share of the frames labelled speech that the peer scores below 0.15, where
those frames lie (before the peer's first speech, after its last, between), and what the signal
says of them: level below the line's loud level, spectral flatness and voicing (the
autocorrelation peak at 2.5-16 ms lags) beside the frames both call speech. Writes the figures
of every line to <work>/lines.tsv (seconds labelled speech, of them below 0.15, before the
peer's first speech and after its last).
"""
import argparse
import collections
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import labels  # noqa: E402
from labels import HOP  # noqa: E402
from real import TAIL_DB  # noqa: E402
from wavio import RATE, read_wav16, write_wav  # noqa: E402

LOW = 0.15  # a peer probability below this is taken as "no speech"
HIGH = 0.5
PAD_FRAMES = 50  # silence before and after each line, so that the peer starts from rest
PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'bench', 'peers',
                     'peers.mjs')


def draw(index, lines, seed):
    """Up to `lines` rows per source, drawn at random (the same for a given seed)."""
    by = collections.defaultdict(list)
    with open(os.path.join(index, 'index.tsv')) as f:
        header = f.readline().rstrip('\n').split('\t')
        for line in f:
            r = dict(zip(header, line.rstrip('\n').split('\t')))
            by[r['source']].append(r)
    rng = np.random.default_rng(seed)
    out = []
    for src in sorted(by):
        rows = by[src]
        pick = rng.permutation(len(rows))[:lines]
        out += [rows[i] for i in sorted(pick)]
    return out


def frame_features(x):
    """Per grid frame (the 25 ms around sample 160 j + 200): spectral flatness and voicing."""
    k = len(x) // HOP
    flat, voiced = np.zeros(k), np.zeros(k)
    w = np.hanning(400)
    lo, hi = RATE // 400, RATE // 62  # lags of 2.5-16 ms: pitch of 62-400 Hz
    for j in range(k):
        seg = x[j * HOP:j * HOP + 400]
        if len(seg) < 400:
            seg = np.pad(seg, (0, 400 - len(seg)))
        seg = seg - np.mean(seg)
        p = np.abs(np.fft.rfft(seg * w)) ** 2 + 1e-12
        flat[j] = np.exp(np.mean(np.log(p))) / np.mean(p)
        ac = np.correlate(seg, seg, 'full')[len(seg) - 1:]
        voiced[j] = np.max(ac[lo:hi]) / ac[0] if ac[0] > 1e-10 else 0.0
    return flat, voiced


def audit(rows, root, probs, per_line):
    """Per source: counts and signal figures of the frames labelled speech; per line a row of
    `per_line` (a file)."""
    stats = collections.defaultdict(lambda: collections.defaultdict(float))
    per_line.write('path\tseconds\tlabelled\tlow\thead\ttail\n')
    for r, p in zip(rows, probs):
        x = read_wav16(os.path.join(root, r['path'])).astype(np.float64)
        iv = labels.speech_intervals(x, TAIL_DB.get(r['source']))
        ref = labels.frame_labels(iv, len(x)).astype(bool)
        p = p[:len(ref)]
        s = stats[r['source']]
        s['lines'] += 1
        s['seconds'] += len(x) / RATE
        s['speech'] += ref.sum()
        low = ref & (p < LOW)
        s['low'] += low.sum()
        s['lines_low_half'] += ref.sum() > 0 and low.sum() > 0.5 * ref.sum()
        high = np.flatnonzero(p >= HIGH)
        j = np.arange(len(ref))
        head = np.sum(low & (j < high[0])) if len(high) else 0
        tail = np.sum(low & (j > high[-1])) if len(high) else 0
        s['low_head'] += head
        s['low_tail'] += tail
        s['low_nopeer'] += 0 if len(high) else low.sum()
        per_line.write('%s\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\n' % (
            r['path'], len(x) / RATE, ref.sum() / 100, low.sum() / 100, head / 100, tail / 100))
        if ref.any():
            db = labels.frame_db(x)[:len(ref)]
            loud = np.percentile(db, labels.LOUD_PERCENTILE)
            flat, voiced = frame_features(x)
            both = ref & (p >= HIGH)
            for name, mask in (('low', low), ('both', both)):
                s[name + '_down'] += np.sum(loud - db[mask])
                s[name + '_flat'] += np.sum(flat[mask])
                s[name + '_voiced'] += np.sum(voiced[mask])
                s[name + '_n'] += mask.sum()
    return stats


def report(stats):
    print('| source | lines | minutes | labelled speech (s) | peer < %.2f | of it: head / tail / '
          'between / no peer speech | lines mostly low | dB below loud (low / both) | flatness '
          '(low / both) | voicing (low / both) |' % LOW)
    print('|---|---:|---:|---:|---:|---|---:|---|---|---|')
    total = collections.defaultdict(float)
    for src in sorted(stats) + ['all']:
        s = total if src == 'all' else stats[src]
        if src != 'all':
            for k, v in s.items():
                total[k] += v
        low = max(s['low'], 1)
        between = s['low'] - s['low_head'] - s['low_tail'] - s['low_nopeer']
        mean = lambda name: s[name] / max(s[name.split('_')[0] + '_n'], 1)  # noqa: E731
        print('| %s | %d | %.1f | %.0f | %.1f %% | %.0f / %.0f / %.0f / %.0f %% | %d | %.1f / %.1f '
              '| %.2f / %.2f | %.2f / %.2f |'
              % (src, s['lines'], s['seconds'] / 60, s['speech'] / 100,
                 100 * s['low'] / max(s['speech'], 1), 100 * s['low_head'] / low,
                 100 * s['low_tail'] / low, 100 * between / low, 100 * s['low_nopeer'] / low,
                 s['lines_low_half'], mean('low_down'), mean('both_down'), mean('low_flat'),
                 mean('both_flat'), mean('low_voiced'), mean('both_voiced')))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--speech', required=True, help='cache of real_speech.py')
    ap.add_argument('--work', required=True, help='folder for the line list and the posteriors')
    ap.add_argument('--lines', type=int, default=200, help='lines drawn per source')
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--peer', default='silero', choices=['silero', 'ten'])
    a = ap.parse_args()
    rows = draw(a.speech, a.lines, a.seed)
    os.makedirs(a.work, exist_ok=True)
    listing = os.path.join(a.work, 'lines.txt')
    padded = os.path.join(a.work, 'padded')
    os.makedirs(padded, exist_ok=True)
    with open(listing, 'w') as f:
        for i, r in enumerate(rows):
            x = read_wav16(os.path.join(a.speech, r['path']))
            pad = np.zeros(PAD_FRAMES * HOP)
            path = os.path.join(padded, '%d.wav' % i)
            write_wav(path, np.round(np.concatenate([pad, x, pad]) * 32768).astype(np.int16))
            f.write(path + '\n')
    probs_dir = os.path.join(a.work, a.peer)
    subprocess.run(['node', PEERS, 'posteriors', a.peer, listing, probs_dir], check=True)
    probs = [np.loadtxt(os.path.join(probs_dir, '%d.prob' % i), ndmin=1)[PAD_FRAMES:]
             for i in range(len(rows))]
    with open(os.path.join(a.work, 'lines.tsv'), 'w') as per_line:
        report(audit(rows, a.speech, probs, per_line))


if __name__ == '__main__':
    main()
