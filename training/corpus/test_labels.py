#!/usr/bin/python3
"""The reference labels: frame levels, each threshold of the speech intervals on either side of
it, and frame labels at the recording's ends.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import labels  # noqa: E402
from labels import HOP  # noqa: E402


def blocks(*segments):
    """Samples from (10 ms blocks, level in dBFS or None for digital silence) segments: a square
    wave of exactly that power."""
    parts = []
    for count, db in segments:
        a = 0.0 if db is None else 10 ** (db / 20)
        parts.append(a * np.resize([1.0, -1.0], count * HOP))
    return np.concatenate(parts)


SILENCE = None


def found(x, start_block, end_block):
    """Whether a speech interval overlaps the blocks [start, end)."""
    return any(s < end_block * HOP and e > start_block * HOP for s, e in labels.speech_intervals(x))


class FrameLevels(unittest.TestCase):
    def test_levels_and_lengths(self):
        x = blocks((3, -20), (1, SILENCE), (1, -40))
        cases = [(labels.WIN, [-20, -20, -23.0103, -43.0103, -40]),  # the last window is half
                 (HOP, [-20, -20, -20, -120, -40])]
        for win, want in cases:
            with self.subTest(win=win):
                np.testing.assert_allclose(labels.frame_db(x, win), want, atol=1e-3)
        for n, frames in ((0, 1), (1, 1), (HOP, 1), (HOP + 1, 2)):
            with self.subTest(samples=n):
                self.assertEqual(len(labels.frame_db(np.zeros(n))), frames)
        self.assertEqual(labels.frame_db(np.zeros(0)).tolist(), [-120.0])


class SpeechIntervals(unittest.TestCase):
    def test_a_burst_widened_by_the_hangover(self):
        # the window before the burst already holds half of it; PRE and POST frames around that
        x = blocks((100, SILENCE), (50, -20), (100, SILENCE))
        self.assertEqual(labels.speech_intervals(x),
                         [((100 - 1 - labels.PRE_FRAMES) * HOP,
                           (150 - 1 + labels.POST_FRAMES) * HOP + labels.WIN)])

    def test_bursts_at_the_ends_are_clipped_to_the_recording(self):
        x = blocks((50, -20), (100, SILENCE), (50, -20))
        self.assertEqual(labels.speech_intervals(x),
                         [(0, (50 - 1 + labels.POST_FRAMES) * HOP + labels.WIN),
                          ((150 - 1 - labels.PRE_FRAMES) * HOP, len(x))])

    def test_pauses_and_runs(self):
        gap = labels.MIN_GAP  # a pause of MIN_GAP blocks leaves MIN_GAP - 1 quiet windows
        run = labels.MIN_RUN - 1  # a burst of MIN_RUN - 1 blocks makes a run of MIN_RUN windows
        cases = [('pause bridged', [(50, -20), (gap, SILENCE), (50, -20)], 1),
                 ('pause kept', [(50, -20), (gap + 1, SILENCE), (50, -20)], 2),
                 ('short run kept', [(50, -20), (100, SILENCE), (run, -20)], 2),
                 ('shorter run dropped', [(50, -20), (100, SILENCE), (run - 1, -20)], 1)]
        for what, segments, count in cases:
            with self.subTest(what):
                x = blocks((100, SILENCE), *segments, (100, SILENCE))
                self.assertEqual(len(labels.speech_intervals(x)), count)

    def test_each_threshold_on_either_side(self):
        # (what, background level, loud level, quiet level that should be just kept) with the
        # quiet burst 1 dB above and 1 dB below the threshold that applies
        rel = -10 - labels.REL_DB
        floor = -60 + labels.FLOOR_MARGIN_DB
        headroom = -20 - labels.FLOOR_HEADROOM_DB
        cases = [('within REL_DB of the loud level', SILENCE, -10, rel),
                 ('FLOOR_MARGIN_DB above the noise floor', -60, -20, floor),
                 ('the floor margin capped by FLOOR_HEADROOM_DB', -40, -20, headroom),
                 ('never below ABSOLUTE_FLOOR_DB', SILENCE, -60, labels.ABSOLUTE_FLOOR_DB)]
        for what, background, loud, threshold in cases:
            for delta, want in ((1.0, True), (-1.0, False)):
                with self.subTest(what, delta=delta):
                    x = blocks((100, background), (100, loud), (100, background),
                               (30, threshold + delta), (100, background))
                    self.assertTrue(found(x, 100, 200))
                    self.assertEqual(found(x, 300, 330), want)

    def test_reverberation_tails_cut_with_tail_db(self):
        # a burst at -20 dBFS, then a tail decaying from -25 to -60 dB over 40 blocks: within
        # 20 dB of the loud level for its first 17 blocks
        tail = [(1, -25 - 35 * i / 39) for i in range(40)]
        x = blocks((100, SILENCE), (50, -20), *tail, (100, SILENCE))
        (_, whole), = labels.speech_intervals(x)
        (_, cut), = labels.speech_intervals(x, tail_db=20)
        self.assertGreater(whole, 185 * HOP)
        self.assertEqual(cut, (166 + labels.POST_FRAMES) * HOP + labels.WIN)
        (_, plain), = labels.speech_intervals(blocks((100, SILENCE), (50, -20), (100, SILENCE)),
                                              tail_db=20)
        self.assertEqual(plain, (149 + labels.POST_FRAMES) * HOP + labels.WIN)

    def test_silence_and_steady_noise(self):
        self.assertEqual(labels.speech_intervals(np.zeros(10 * HOP)), [])
        self.assertEqual(labels.speech_intervals(np.zeros(0)), [])
        x = blocks((300, -30))  # no louder part: all of it is above the floor-based threshold
        self.assertEqual(labels.speech_intervals(x), [(0, len(x))])


class FrameLabels(unittest.TestCase):
    def test_the_centre_sample_decides(self):
        c = labels.CENTRE
        cases = [([(0, c)], 3 * HOP, [0, 0, 0]),
                 ([(0, c + 1)], 3 * HOP, [1, 0, 0]),
                 ([(c + HOP, c + HOP + 1)], 3 * HOP, [0, 1, 0]),
                 ([(0, 3 * HOP)], 3 * HOP - 1, [1, 1]),  # whole frames only
                 ([(3 * HOP, 10 * HOP)], 4 * HOP, [0, 0, 1, 1]),  # interval past the end
                 ([], 0, [])]
        for intervals, n, want in cases:
            with self.subTest(intervals=intervals, n=n):
                self.assertEqual(labels.frame_labels(intervals, n).tolist(), want)


if __name__ == '__main__':
    unittest.main()
