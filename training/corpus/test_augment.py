#!/usr/bin/python3
"""Augmentations keep length and time alignment; hum sits on the mains frequency.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import shutil
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import augment  # noqa: E402
from wavio import RATE  # noqa: E402


def bursts(n, rng):
    """Band-limited noise switched on and off every 0.25 s: a signal whose timing is easy to find."""
    x = augment._zero_phase(rng.standard_normal(n), lambda f: ((f > 300) & (f < 3400)) * 1.0)
    return x * (np.arange(n) // (RATE // 4) % 2)


def lag(x, y):
    m = 1 << int(np.ceil(np.log2(2 * len(x))))
    c = np.fft.irfft(np.fft.rfft(y, m) * np.conj(np.fft.rfft(x, m)), m)
    k = int(np.argmax(c))
    return k if k < m // 2 else k - m


class Alignment(unittest.TestCase):
    @unittest.skipUnless(shutil.which('sox') and shutil.which('ffmpeg'), 'needs sox and ffmpeg')
    def test_telephone_keeps_length_and_timing(self):
        x = bursts(3 * RATE + 123, np.random.default_rng(1))
        for mode in augment.PHONE_MODES:
            with self.subTest(mode=mode):
                y = augment.telephone(x, np.random.default_rng(2), mode)
                self.assertEqual(len(y), len(x))
                self.assertEqual(lag(x, y), 0)

    def test_reverb_keeps_direct_path_undelayed(self):
        rng = np.random.default_rng(3)
        x = bursts(2 * RATE, rng)
        late_ir = np.concatenate([np.zeros(400), [0.9], 0.3 * rng.standard_normal(3000)])
        for irs in ([], [late_ir]):
            for seed in range(4):
                with self.subTest(irs=len(irs), seed=seed):
                    y = augment.reverb(x, np.random.default_rng(seed), irs)
                    self.assertEqual(len(y), len(x))
                    self.assertEqual(lag(x, y), 0)

    def test_silence_stays_silent(self):
        for mode in augment.PHONE_MODES:
            self.assertFalse(np.any(augment.telephone(np.zeros(RATE), np.random.default_rng(0), mode)))


class Hum(unittest.TestCase):
    def test_fundamental_is_the_mains_frequency(self):
        for seed in range(6):
            rng = np.random.default_rng(seed)
            x = augment.hum(4 * RATE, rng)
            spec = np.abs(np.fft.rfft(x * np.hanning(len(x))))
            f = np.fft.rfftfreq(len(x), 1.0 / RATE)
            peaks = f[spec > 0.05 * spec.max()]
            with self.subTest(seed=seed):
                self.assertTrue(any(abs(peaks.min() - m) < 1.0 for m in (50, 60)), peaks.min())



class Determinism(unittest.TestCase):
    def test_same_generator_state_gives_same_output(self):
        x = bursts(RATE, np.random.default_rng(5))
        for f in (augment.mic_eq, augment.clip, augment.dc_offset,
                  lambda s, r: augment.reverb(s, r, [])):
            self.assertTrue(np.array_equal(f(x, np.random.default_rng(9)), f(x, np.random.default_rng(9))))


if __name__ == '__main__':
    unittest.main()
