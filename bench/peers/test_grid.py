#!/usr/bin/python3
"""Checks of the TextGrid reading and the scores: /usr/bin/python3 -m unittest bench/peers/test_grid.py"""

import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_tarvik  # noqa: E402
import score  # noqa: E402

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data",
                      "golden")


class TextGridFrames(unittest.TestCase):
    def test_golden_textgrid_gives_the_decisions_of_every_frame(self):
        intervals = run_tarvik.textgrid_intervals(os.path.join(GOLDEN, "speech.TextGrid"))
        with open(os.path.join(GOLDEN, "frames.tsv")) as f:
            expected = [int(line.split("\t")[2]) for line in list(f)[1:] if line.strip()]
        self.assertEqual(run_tarvik.frame_labels(intervals, len(expected)), expected)

    def test_edges(self):
        cases = [
            ("one frame", [(0.0, 0.0075, 1)], 1, [1]),
            ("last run of one frame", [(0.0, 0.0175, 0), (0.0175, 0.0175, 1)], 2, [0, 1]),
            ("change after the first frame", [(0.0, 0.0175, 1), (0.0175, 0.0275, 0)], 3, [1, 0, 0]),
        ]
        for name, intervals, frames, expected in cases:
            with self.subTest(name):
                self.assertEqual(run_tarvik.frame_labels(intervals, frames), expected)


class Scores(unittest.TestCase):
    def test_rates(self):
        ref = np.array([1, 1, 1, 1, 0, 0, 0, 0, 0, 0], dtype=np.int8)
        hyp = np.array([1, 1, 1, 0, 1, 0, 0, 0, 0, 0], dtype=np.int8)
        m = score.metrics(score.counts(ref, hyp), True)
        self.assertAlmostEqual(m["accuracy"], 0.8)
        self.assertAlmostEqual(m["f1"], 0.75)
        self.assertAlmostEqual(m["fa"], 1 / 6)
        self.assertAlmostEqual(m["miss"], 0.25)

    def test_no_speech_condition_has_only_false_alarms(self):
        ref = np.zeros(4, dtype=np.int8)
        m = score.metrics(score.counts(ref, np.array([0, 1, 0, 0], dtype=np.int8)), False)
        self.assertEqual((m["f1"], m["miss"]), (None, None))
        self.assertAlmostEqual(m["fa"], 0.25)


if __name__ == "__main__":
    unittest.main()
