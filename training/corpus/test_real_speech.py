#!/usr/bin/python3
"""Real-speech cache: the FOTAQ entry table, 8-bit samples, screening and cutting of long files.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import struct
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import real_speech  # noqa: E402

RATE = real_speech.RATE


def qtbl(entries, count=None, compression=1):
    """A made-up FOTAQ resource file: header, entry table, then the entries' bytes."""
    head = b'QTBL' + b'CEM10\0' + b'\0\0' + bytes([compression])
    head += struct.pack('>H', len(entries) if count is None else count)
    table, body = b'', b''
    offset = len(head) + 21 * len(entries)
    for name, data in entries:
        table += name.encode().ljust(12, b'\0') + struct.pack('>BII', 1, offset + len(body),
                                                              len(data))
        body += data
    return head + table + body


class QueenArchive(unittest.TestCase):
    def write(self, data):
        f = tempfile.NamedTemporaryFile(suffix='.1c', delete=False)
        f.write(data)
        f.close()
        self.addCleanup(os.remove, f.name)
        return f.name

    def test_entries_point_at_their_bytes(self):
        path = self.write(qtbl([('020001P2.SB', b'abc'), ('JOE00101.SB', b'defgh'),
                                ('ROOM1.PCX', b'x')]))
        entries = real_speech.queen_entries(path)
        self.assertEqual([e[0] for e in entries], ['020001P2.SB', 'JOE00101.SB', 'ROOM1.PCX'])
        with open(path, 'rb') as f:
            raw = f.read()
        self.assertEqual([raw[o:o + n] for _, o, n in entries], [b'abc', b'defgh', b'x'])
        self.assertEqual(real_speech.queen_compression(path), 1)

    def test_bad_files_are_refused(self):
        for data in (b'QTB', b'XXXX' + qtbl([('A.SB', b'a')])[4:],
                     qtbl([('A.SB', b'a')], count=3)):
            with self.subTest(data=data[:8]), self.assertRaises(ValueError):
                real_speech.queen_entries(self.write(data))


class EightBit(unittest.TestCase):
    def test_unsigned_samples_centre_on_128(self):
        pcm = real_speech.u8_to_s16(bytes([0, 127, 128, 129, 255]))
        self.assertEqual(pcm.tolist(), [-32768, -256, 0, 256, 32512])
        self.assertEqual(pcm.dtype, np.dtype('<i2'))


def speechlike(seconds, seed=0):
    """Noise bursts of 200 ms with 100 ms pauses, like syllables."""
    rng = np.random.default_rng(seed)
    x = rng.normal(0, 0.1, int(seconds * RATE)).astype(np.float32)
    t = np.arange(len(x)) / RATE
    return x * ((t % 0.3) < 0.2)


class Screening(unittest.TestCase):
    def test_reasons(self):
        t = np.arange(RATE) / RATE
        cases = [('short', speechlike(0.1)), ('silent', np.full(RATE, 1e-4, np.float32)),
                 ('tone', 0.5 * np.sin(2 * np.pi * 440 * t)),
                 ('tone', 0.5 * np.sin(2 * np.pi * 1000 * t) * (t < 0.5)), (None, speechlike(1))]
        for want, x in cases:
            with self.subTest(want=want):
                self.assertEqual(real_speech.screen(np.asarray(x, np.float32)), want)


class Cutting(unittest.TestCase):
    def test_short_files_stay_whole(self):
        x = speechlike(29)
        self.assertEqual(real_speech.cut_points(x), [0, len(x)])

    def test_long_files_cut_in_quiet_frames(self):
        x = speechlike(65, seed=1)
        cuts = real_speech.cut_points(x)
        self.assertEqual((cuts[0], cuts[-1]), (0, len(x)))
        sizes = np.diff(cuts)
        self.assertTrue(np.all(sizes <= 20 * RATE) and np.all(sizes > 0), sizes)
        for c in cuts[1:-1]:
            self.assertEqual(np.max(np.abs(x[c:c + 160])), 0.0)


if __name__ == '__main__':
    unittest.main()
