#!/usr/bin/python3
"""Builds the speech/non-speech training corpus: <out>/train and <out>/valid, each with
manifest.tsv, <id>.wav, <id>.ref.tsv, <id>.ref.TextGrid and a READY marker written last.

Usage: build_corpus.py --out DIR --train-hours H --valid-hours V --seed S [--jobs N]
       build_corpus.py --sample DIR [--seed S]
"""
import argparse
import multiprocessing
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import mix  # noqa: E402
import noise  # noqa: E402
import packages  # noqa: E402
import real  # noqa: E402
import speech  # noqa: E402
from labels import frame_labels, write_ref_tsv, write_textgrid  # noqa: E402
from wavio import RATE, write_wav  # noqa: E402

# train and valid: real voices and sounds (valid holds out whole packages), train also the
# synthetic voices and noises; valid-synth: synthetic voices and noises only, held-out families.
SPLITS = {'train': 0, 'valid-synth': 1, 'valid': 2}
LENGTHS = {'train': (10.0, 60.0), 'valid': (10.0, 40.0), 'valid-synth': (10.0, 14.0)}  # s, uniform
CONDITIONS = ['clean', '20', '10', '5', '0']
NOSPEECH_SHARE = 0.2  # of the validation splits
TRAIN_NOSPEECH_SHARE = 0.3
NOSPEECH_SILENT_SHARE = 0.05  # of nospeech recordings: no noise at all
# Noise families of the real splits, repeated by weight.
REAL_TRAIN_FAMILIES = (['music'] * 4 + ['musicmix'] + ['ambience'] * 3 + ['everyday'] * 3 +
                       ['water'] * 2 + ['sparse'] * 2 + ['tones'] +
                       ['instrument', 'fan', 'clicks', 'pink', 'white', 'brown', 'colored'] +
                       ['hum'] * 3 + ['beeps', 'chirps', 'drone', 'engine', 'bursts', 'mixture'])
REAL_VALID_FAMILIES = ['music', 'ambience', 'everyday', 'hum', 'pink']
SYNTH_VOICE_SHARE = 0.25  # of the training split's voices
MULTI_VOICE_SHARE = 0.25  # of real recordings: two or three voices take turns


def families(split):
    if split == 'valid-synth':
        return noise.VALID_FAMILIES
    return REAL_TRAIN_FAMILIES if split == 'train' else REAL_VALID_FAMILIES


def pick_voices(split, rng):
    """Speaker field of a speech recording: one voice, or two or three joined by ','."""
    if split == 'valid-synth':
        return speech.pick_speaker('valid', rng)
    count = int(rng.integers(2, 4)) if rng.random() < MULTI_VOICE_SHARE else 1
    voices = []
    for _ in range(count):
        if split == 'train' and rng.random() < SYNTH_VOICE_SHARE:
            voices.append(speech.pick_speaker('train', rng))
        else:
            voices.append(real.pick_speaker(split, rng))
    return ','.join(voices)


def parse_mix(text):
    """'clean,20,10,5,5,0,0' -> that cycle of speech conditions (repeats weight a condition)."""
    cycle = [c for c in text.split(',') if c]
    bad = [c for c in cycle if c not in CONDITIONS]
    if not cycle or bad:
        raise ValueError('conditions must be among %s, got %r' % (','.join(CONDITIONS), text))
    return cycle


PREFIX = {'train': 'tr', 'valid': 'va', 'valid-synth': 'vs'}
MARKER = '.corpus_split'  # in every split folder this program made


def plan_split(split, hours, seed, cycle=CONDITIONS, nospeech_share=NOSPEECH_SHARE):
    """Deterministic list of recording plans whose lengths add up to the requested hours.
    Speech recordings take their conditions from `cycle` in turn; `nospeech_share` of all
    recordings have no speech."""
    if not 0.0 < nospeech_share < 1.0:
        raise ValueError('nospeech share must lie strictly between 0 and 1')
    rng = np.random.default_rng([seed, SPLITS[split], 1000])
    lengths = []
    while sum(lengths) < hours * 3600:
        lengths.append(rng.uniform(*LENGTHS[split]))
    count = len(lengths)
    n_nospeech = max(1, round(nospeech_share * count))
    conds = ['nospeech'] * n_nospeech + [cycle[i % len(cycle)] for i in range(count - n_nospeech)]
    conds = [conds[i] for i in rng.permutation(count)]
    fams = families(split)
    offset = {c: int(rng.integers(len(fams))) for c in CONDITIONS + ['nospeech']}
    plans = []
    for i, (sec, cond) in enumerate(zip(lengths, conds)):
        if cond == 'clean':
            fam = 'none'
        elif cond == 'nospeech' and rng.random() < NOSPEECH_SILENT_SHARE:
            fam = 'none'
        else:
            fam = fams[offset[cond] % len(fams)]
            offset[cond] += 1
        spk = 'none' if cond == 'nospeech' else pick_voices(split, rng)
        plans.append(dict(id='%s%05d' % (PREFIX[split], i), condition=cond, family=fam,
                          speaker=spk, n=int(sec * RATE) // 160 * 160 + int(rng.integers(160)),
                          seed=[seed, SPLITS[split], i], split=split))
    return plans


def make_one(args):
    plan, folder = args
    t0 = time.time()
    pcm, intervals = mix.build(plan)
    labels = frame_labels(intervals, len(pcm))
    base = os.path.join(folder, plan['id'])
    write_wav(base + '.wav', pcm)
    write_ref_tsv(base + '.ref.tsv', labels)
    write_textgrid(base + '.ref.TextGrid', labels)
    return plan, len(pcm), int(labels.sum()), len(labels), time.time() - t0


def build_split(out, split, hours, seed, jobs, cycle=CONDITIONS, nospeech_share=NOSPEECH_SHARE):
    t0 = time.time()
    folder = os.path.join(out, split)
    packages.claim_folder(folder, MARKER)
    plans = plan_split(split, hours, seed, cycle, nospeech_share)
    rows = []
    with multiprocessing.Pool(jobs) as pool:
        for k, res in enumerate(pool.imap_unordered(make_one, [(p, folder) for p in plans])):
            rows.append(res)
            if (k + 1) % 50 == 0:
                print('  %s: %d/%d recordings, %.0f s' % (split, k + 1, len(plans), time.time() - t0),
                      flush=True)
    rows.sort(key=lambda r: r[0]['id'])
    with open(os.path.join(folder, 'manifest.tsv'), 'w') as f:
        f.write('id\tcondition\tnoise_family\tspeaker\tseconds\n')
        for p, n, _, _, _ in rows:
            f.write('%s\t%s\t%s\t%s\t%.3f\n' % (p['id'], p['condition'], p['family'], p['speaker'],
                                                n / RATE))
    open(os.path.join(folder, 'READY'), 'w').close()
    report(split, rows, time.time() - t0)


def report(split, rows, seconds):
    total = sum(r[1] for r in rows) / RATE
    speech_frames = sum(r[2] for r in rows)
    frames = sum(r[3] for r in rows)
    print('%s: %d recordings, %.2f h, speech share %.1f%%, built in %.0f s'
          % (split, len(rows), total / 3600, 100.0 * speech_frames / max(frames, 1), seconds))
    for key, name in ((lambda p: p['condition'], 'condition'), (lambda p: p['family'], 'family')):
        counts = {}
        for r in rows:
            c = counts.setdefault(key(r[0]), [0, 0.0, 0])
            c[0] += 1
            c[1] += r[1] / RATE
            c[2] += r[2]
        print('  by %s: ' % name + ', '.join('%s %d (%.2f h)' % (k, v[0], v[1] / 3600)
                                             for k, v in sorted(counts.items())))
    kinds = {}
    for r in rows:
        k = r[0]['speaker'].split('-')[0]
        kinds[k] = kinds.get(k, 0) + 1
    print('  by voice kind: ' + ', '.join('%s %d' % kv for kv in sorted(kinds.items())))
    print('  distinct speakers: %d' % len({r[0]['speaker'] for r in rows}))


def write_sample(folder, seed):
    os.makedirs(folder, exist_ok=True)
    pcm, intervals, drawn = mix.build_sample(20.0, seed)
    write_wav(os.path.join(folder, 'sample.wav'), pcm)
    labels = frame_labels(intervals, len(pcm))
    write_ref_tsv(os.path.join(folder, 'sample.ref.tsv'), labels)
    print('sample: %.1f s, speech share %.1f%%, from:' % (len(pcm) / RATE, 100.0 * labels.mean()))
    for path in drawn:
        print('  ' + path)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--out')
    ap.add_argument('--train-hours', type=float, default=10.0)
    ap.add_argument('--valid-hours', type=float, default=1.5)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--jobs', type=int, default=4)
    ap.add_argument('--sample', help='write sample.wav and sample.ref.tsv into this folder')
    ap.add_argument('--valid-synth-hours', type=float, default=1.0)
    ap.add_argument('--real-speech', default='out/training/real/speech',
                    help='decoded real speech (real_speech.py)')
    ap.add_argument('--real-noise', default='out/training/real/noise',
                    help='decoded real non-speech (real_noise.py)')
    ap.add_argument('--splits', default='valid,valid-synth,train',
                    help='which splits to build, in order')
    ap.add_argument('--train-conditions', default=','.join(CONDITIONS),
                    help='cycle of speech conditions of the training split, e.g. clean,20,10,5,5,0,0')
    ap.add_argument('--train-nospeech', type=float, default=TRAIN_NOSPEECH_SHARE,
                    help='share of training recordings without speech (default %(default)s)')
    a = ap.parse_args()
    if not a.out and not a.sample:
        ap.error('give --out and/or --sample')
    try:
        cycle = parse_mix(a.train_conditions)
    except ValueError as e:
        ap.error(str(e))
    if not 0.0 < a.train_nospeech < 1.0:
        ap.error('--train-nospeech must lie strictly between 0 and 1')
    real.roots.update(speech=a.real_speech, noise=a.real_noise)
    if a.sample or (a.out and set(a.splits.split(',')) - {'valid-synth'}):
        for kind in ('speech', 'noise'):
            if not real.available(kind):
                ap.error('no decoded real %s in %s (run real_%s.py)' % (kind, real.roots[kind], kind))
    t0 = time.time()
    if a.sample:
        t = time.time()
        write_sample(a.sample, a.seed)
        print('stage sample: %.1f s' % (time.time() - t))
    if a.out:
        hours = {'train': a.train_hours, 'valid': a.valid_hours,
                 'valid-synth': a.valid_synth_hours}
        for split in a.splits.split(','):
            t = time.time()
            if split == 'train':
                build_split(a.out, split, hours[split], a.seed, a.jobs, cycle, a.train_nospeech)
            else:
                build_split(a.out, split, hours[split], a.seed, a.jobs)
            print('stage %s: %.1f s' % (split, time.time() - t), flush=True)
    print('total: %.1f s' % (time.time() - t0))


if __name__ == '__main__':
    main()
