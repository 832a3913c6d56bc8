#!/usr/bin/python3
"""Checks a corpus folder against the corpus format and prints its figures.

Usage: check_corpus.py ROOT
Exits 1 with a message per fault: bad WAV header, label count or values, manifest length, a
validation voice also found in train, a noise family of the synthetic validation also found in
train (other than "none"), a missing condition.
"""
import os
import struct
import sys

CONDITIONS = {'clean', '20', '10', '5', '0', 'nospeech'}


def check_split(folder, faults):
    rows = [l.rstrip('\n').split('\t') for l in open(os.path.join(folder, 'manifest.tsv'))]
    if rows[0] != ['id', 'condition', 'noise_family', 'speaker', 'seconds']:
        faults.append('%s: bad manifest header' % folder)
    rows = rows[1:]
    speech = frames = 0
    for rid, cond, fam, spk, sec in (r[:5] for r in rows):
        where = os.path.join(folder, rid)
        with open(where + '.wav', 'rb') as f:
            raw = f.read()
        fields = struct.unpack('<4sI4s4sIHHIIHH4sI', raw[:44])
        n = (len(raw) - 44) // 2
        if fields != (b'RIFF', len(raw) - 8, b'WAVE', b'fmt ', 16, 1, 1, 16000, 32000, 2, 16,
                      b'data', len(raw) - 44):
            faults.append('%s.wav: not a plain 16 kHz mono 16-bit header' % where)
        labels = open(where + '.ref.tsv').read().split('\n')
        if labels[-1] != '' or len(labels) - 1 != n // 160 or set(labels[:-1]) - {'0', '1'}:
            faults.append('%s.ref.tsv: want %d lines of 0 or 1' % (where, n // 160))
        ones = labels.count('1')
        if cond not in CONDITIONS or (cond == 'nospeech') != (ones == 0):
            faults.append('%s: condition %s with %d speech frames' % (where, cond, ones))
        if abs(float(sec) - n / 16000) > 0.00051:  # three decimals
            faults.append('%s: manifest says %s s, file has %d samples' % (where, sec, n))
        speech += ones
        frames += n // 160
    if not os.path.exists(os.path.join(folder, 'READY')):
        faults.append('%s: no READY' % folder)
    hours = frames / 360000
    print('%s: %d recordings, %.2f h, speech %.1f%%' % (folder, len(rows), hours,
                                                        100.0 * speech / max(frames, 1)))
    return rows


def voices(rows):
    return {v for r in rows for v in r[3].split(',')} - {'none'}


def main():
    root = sys.argv[1]
    faults = []
    train = check_split(os.path.join(root, 'train'), faults)
    for split in ('valid', 'valid-synth'):
        if split == 'valid-synth' and not os.path.isdir(os.path.join(root, split)):
            continue
        valid = check_split(os.path.join(root, split), faults)
        shared = voices(train) & voices(valid)
        if split == 'valid-synth':
            families = ({r[2] for r in train} & {r[2] for r in valid}) - {'none'}
            if families:
                faults.append('noise family in train and %s: %s' % (split, ', '.join(sorted(families))))
        if shared:
            faults.append('voice in train and %s: %s' % (split, ', '.join(sorted(shared))))
        missing = CONDITIONS - {r[1] for r in valid}
        if missing:
            faults.append('%s lacks conditions: %s' % (split, ', '.join(sorted(missing))))
    for f in faults:
        print('FAULT', f)
    sys.exit(1 if faults else 0)


if __name__ == '__main__':
    main()
