#!/usr/bin/python3
"""Real-speech cache: the table of package readers, 8-bit samples, screening and cutting of long
files.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import re
import sys
import tempfile
import unittest
import zipfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import real_speech  # noqa: E402
import test_packages  # noqa: E402

RATE = real_speech.RATE


class Readers(unittest.TestCase):
    """The table of package readers on made-up package listings: what each keeps, how it files
    it, and what it leaves out."""

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        self.listing = {}
        real = real_speech.packages.package_files
        real_speech.packages.package_files = lambda pkg, pattern='': [
            p for p in sorted(self.listing.get(pkg, [])) if re.search(pattern, p)]
        self.addCleanup(setattr, real_speech.packages, 'package_files', real)

    def read(self, source):
        return list(real_speech.read_all([r for r in real_speech.READERS if r[0] == source][0]))

    def items(self, source, listing):
        self.listing = listing
        return [(i.package, i.speaker, i.lang, i.band, i.name, i.spec[0]) for i in self.read(source)]

    def file(self, rel, data=b''):
        path = os.path.join(self.scratch.name, rel.lstrip('/'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        return path

    def test_file_readers(self):
        hw = '/usr/share/games/hedgewars/Data/Sounds/voices/'
        fl = '/usr/share/games/fillets-ng/sound/'
        mg = '/usr/share/games/megaglest/techs/megapack/factions/'
        ps = '/usr/share/pocketsphinx/test/data/'
        cases = [
            ('hedgewars', {'hedgewars-data': [hw + 'Default_es/Boring.ogg', hw + 'Robot/Boring.ogg',
                                              hw + 'Singer/Hello.ogg', hw + 'British/Laugh2.ogg',
                                              hw + 'British/Ooff1.ogg', hw + 'British/Incoming.ogg',
                                              hw + 'British/PoisonCough.ogg',
                                              '/usr/share/games/hedgewars/Data/Music/Art.ogg']},
             [('hedgewars-data', 'hedgewars-british', 'en', 'wide', 'Incoming', 'file'),
              ('hedgewars-data', 'hedgewars-default_es', 'es', 'wide', 'Boring', 'file')]),
            ('fillets', {'fillets-ng-data-nl': [fl + 'cave/nl/jes-m-potvora2.ogg',
                                                fl + 'cave/nl/jes-v-hurt-1.ogg',
                                                fl + 'briefcase/nl/help15.ogg']},
             [('fillets-ng-data-nl', 'fillets-nl-briefcase', 'nl', 'wide', 'briefcase_help15',
               'file'),
              ('fillets-ng-data-nl', 'fillets-nl-female', 'nl', 'wide', 'cave_jes-m-potvora2',
               'file')]),
            ('megaglest', {'megaglest-data': [mg + 'egypt/units/anubis_warrior/sounds/w_select3.wav',
                                              mg + 'egypt/units/priest/sounds/priest_ack2.wav',
                                              mg + 'egypt/units/priest/sounds/priest_attack1.wav',
                                              mg + 'norsemen/units/horse/sounds/horse_select1.wav']},
             [('megaglest-data', 'megaglest-egypt-priest', 'en', 'wide', 'priest_ack2', 'file')]),
            ('pocketsphinx', {'pocketsphinx-testdata': [ps + 'cards/001.wav',
                                                        ps + 'tidigits/dhd.1a.wav']},
             [('pocketsphinx-testdata', 'pocketsphinx-cards', 'en', 'wide', '001', 'file')]),
            ('wims', {'wims-help': [real_speech.WIMS_DIR + n + '.mp3' for n in
                                    ('JFKcoupe', 'generally', 'metropolitain', 'beckham', 'song1')]},
             [('wims-help', 'wims-words', 'en', 'wide', 'generally', 'file'),
              ('wims-help', 'wims-poem', 'fr', 'wide', 'metropolitain', 'file')]),
        ]
        for source, listing, want in cases:
            with self.subTest(source):
                self.assertEqual(self.items(source, listing), want)

    def test_headerless_inputs_take_their_rates(self):
        raw = [self.file('/usr/share/codec2/raw/%s.raw' % n, b'\0' * 320)
               for n in ('hts1a', 'sine1k_2Hz_spread', 'cq_ref')]
        wav = self.file('/usr/share/codec2/raw/speech_orig_16k.wav')
        modem = self.file('/usr/share/codec2/wav/david4.wav')
        als = [self.file('/usr/share/scummvm/drascula/en/%s.ALS' % n, b'\x80' * 11)
               for n in ('57', 'P12')]
        self.listing = {'codec2-examples': raw + [wav, modem], 'drascula': als}
        got = {}
        for source in ('codec2', 'drascula'):
            got.update({i.name: (i.speaker, i.band, i.spec) for i in self.read(source)})
        self.assertEqual(got, {
            'cq_ref-raw': ('codec2-cq_ref', 'narrow', ('s16', raw[2], 0, 320, 8000)),
            'speech_orig_16k': ('codec2-speech_orig_16k', 'wide', ('file', wav)),
            '57': ('drascula-en-hero', 'wide', ('u8', als[0], 0, 11, 11025)),
            'P12': ('drascula-en-p', 'wide', ('u8', als[1], 0, 11, 11025))})

    def test_archive_members(self):
        wz = self.file('/usr/share/games/warzone2100/base.wz')
        with zipfile.ZipFile(wz, 'w') as z:
            for n in ('audio/taunts/boss/gotcha.ogg', 'audio/taunts/boss/laugh2.ogg',
                      'audio/sfx/boom.ogg', 'sequenceaudio/intro.ogg'):  # narration over effects
                z.writestr(n, b'x')
        self.assertEqual(self.items('wz2100', {'warzone2100-data': [wz]}), [
            ('warzone2100-data', 'wz2100-boss', 'en', 'wide', 'taunts_boss_gotcha', 'zip')])

    def test_queen_lines(self):
        # header 15 bytes, table 4 x 21: the entries' bytes start at 99, 132 bytes each (the last
        # is a sound effect)
        sb = b'\0' * 122 + b'\x80' * 10
        data = lambda c: test_packages.qtbl([('020001P2.SB', sb), ('JOE00101.SB', sb),
                                             ('ROOM1.PCX', b'x'), ('25SSSSSS.SB', sb)],
                                            compression=c)
        cases = [(0, [('queen-other', '020001P2', ('u8', 221, 10, 11025)),
                      ('queen-joe', 'JOE00101', ('u8', 353, 10, 11025))]),
                 (1, [('queen-other', '020001P2', ('span', 99, 132, 'mp3')),
                      ('queen-joe', 'JOE00101', ('span', 231, 132, 'mp3'))]),
                 (7, [])]
        for compression, want in cases:
            with self.subTest(compression=compression):
                path = self.file('/usr/share/games/queen/queen.1c', data(compression))
                self.listing = {'flight-of-the-amazon-queen': [path]}
                got = self.read('queen')
                self.assertEqual([(i.speaker, i.name, (i.spec[0],) + i.spec[2:]) for i in got], want)
                self.assertTrue(all(i.spec[1] == path for i in got))


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
