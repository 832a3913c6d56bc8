#!/usr/bin/python3
"""Recording plans of the corpus builder: the condition mix of the training split.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import collections
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import build_corpus  # noqa: E402
import noise  # noqa: E402


def counts(plans):
    return collections.Counter(p['condition'] for p in plans)


class ConditionMix(unittest.TestCase):
    def test_defaults_keep_the_even_plan(self):
        plans = build_corpus.plan_split('train', 2, 1)
        explicit = build_corpus.plan_split('train', 2, 1, build_corpus.parse_mix('clean,20,10,5,0'),
                                           build_corpus.NOSPEECH_SHARE)
        self.assertEqual(plans, explicit)
        c = counts(plans)
        speech_counts = [c[k] for k in build_corpus.CONDITIONS]
        self.assertLessEqual(max(speech_counts) - min(speech_counts), 1)
        self.assertEqual(c['nospeech'], round(build_corpus.NOSPEECH_SHARE * len(plans)))

    def test_repeated_conditions_weigh_more(self):
        plans = build_corpus.plan_split('train', 4, 2, build_corpus.parse_mix('clean,20,10,5,5,0,0'),
                                        0.3)
        c = counts(plans)
        self.assertEqual(c['nospeech'], round(0.3 * len(plans)))
        for low in ('5', '0'):
            for high in ('clean', '20', '10'):
                self.assertAlmostEqual(c[low] / c[high], 2.0, delta=0.1)

    def test_weighted_mix_keeps_held_out_speakers_and_families_out(self):
        plans = build_corpus.plan_split('train', 4, 3, build_corpus.parse_mix('0,5'), 0.5)
        valid_plans = build_corpus.plan_split('valid', 1, 3)
        held_speakers = {p['speaker'] for p in valid_plans} - {'none'}
        held_families = set(noise.VALID_FAMILIES) - {'none'}
        self.assertFalse(held_speakers & {p['speaker'] for p in plans})
        self.assertFalse(held_families & {p['family'] for p in plans})
        self.assertEqual(set(counts(plans)), {'0', '5', 'nospeech'})

    def test_bad_mixes_are_refused(self):
        for text in ('', ',', 'clean,3', 'nospeech', 'clean;20'):
            with self.subTest(text=text), self.assertRaises(ValueError):
                build_corpus.parse_mix(text)
        for share in (0.0, 1.0, -0.1):
            with self.subTest(share=share), self.assertRaises(ValueError):
                build_corpus.plan_split('train', 1, 1, build_corpus.CONDITIONS, share)


if __name__ == '__main__':
    unittest.main()
