#!/usr/bin/python3
"""Recording plans of the corpus builder: the condition mix of the training split.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import collections
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import build_corpus  # noqa: E402
import noise  # noqa: E402
import real  # noqa: E402


def fake_speech_index(folder):
    """An index of real speech (no audio: planning reads the index alone)."""
    rows = [('a/1.wav', 'fillets', 'fillets-ng-data-cs', 'fillets-cs-f', 'cs', 'wide', 'train', 9000),
            ('a/2.wav', 'fillets', 'fillets-ng-data-cs', 'fillets-cs-m', 'cs', 'wide', 'train', 9000),
            ('b/1.wav', 'queen', 'flight-of-the-amazon-queen', 'queen-en', 'en', 'narrow', 'train',
             90000),
            ('c/1.wav', 'drascula', 'drascula-italian', 'drascula-it', 'it', 'wide', 'valid', 3000)]
    os.makedirs(folder)
    with open(os.path.join(folder, 'index.tsv'), 'w') as f:
        f.write('path\tsource\tpackage\tspeaker\tlang\tband\tsplit\tseconds\n')
        for r in rows:
            f.write('\t'.join(str(v) for v in r) + '\n')
    open(os.path.join(folder, 'READY'), 'w').close()




def counts(plans):
    return collections.Counter(p['condition'] for p in plans)


class ConditionMix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        fake_speech_index(os.path.join(cls.scratch.name, 'speech'))
        real.roots.update(speech=os.path.join(cls.scratch.name, 'speech'))
        real._speech.clear()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

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

    def test_weighted_mix_keeps_held_out_voices_and_families_out(self):
        plans = build_corpus.plan_split('train', 4, 3, build_corpus.parse_mix('0,5'), 0.5)
        voices = {v for p in plans for v in p['speaker'].split(',')}
        for split in ('valid', 'valid-synth'):
            held = {v for p in build_corpus.plan_split(split, 1, 3) for v in p['speaker'].split(',')}
            self.assertFalse((held - {'none'}) & voices, split)
        held_families = set(noise.VALID_FAMILIES) - {'none'}
        self.assertFalse(held_families & {p['family'] for p in plans})
        self.assertEqual(set(counts(plans)), {'0', '5', 'nospeech'})

    def test_real_voices_follow_the_capped_source_weights(self):
        plans = build_corpus.plan_split('train', 20, 4)
        first = [p['speaker'].split(',')[0] for p in plans if p['condition'] != 'nospeech']
        sources = collections.Counter(v.split(':')[1] for v in first if v.startswith('real:'))
        # queen holds 83 % of the hours but is capped far below the other source
        self.assertLess(sources['queen'], sources['fillets'] / 2)
        synthetic = sum(not v.startswith('real:') for v in first) / len(first)
        self.assertAlmostEqual(synthetic, build_corpus.SYNTH_VOICE_SHARE, delta=0.06)

    def test_bad_mixes_are_refused(self):
        for text in ('', ',', 'clean,3', 'nospeech', 'clean;20'):
            with self.subTest(text=text), self.assertRaises(ValueError):
                build_corpus.parse_mix(text)
        for share in (0.0, 1.0, -0.1):
            with self.subTest(share=share), self.assertRaises(ValueError):
                build_corpus.plan_split('train', 1, 1, build_corpus.CONDITIONS, share)


if __name__ == '__main__':
    unittest.main()
