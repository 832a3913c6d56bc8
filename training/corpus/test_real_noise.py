#!/usr/bin/python3
"""Real non-speech: the rules that file a package's paths (or leave them out), the rendered
tones and the sparse sounds.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import struct
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import real  # noqa: E402
import real_noise  # noqa: E402
from wavio import RATE, write_wav  # noqa: E402


class Rules(unittest.TestCase):
    def filed(self, package, paths):
        """{path: family} of the paths that the rules keep."""
        saved = real_noise.audio_paths, real_noise.RULES, real_noise.TONE_FONTS
        real_noise.audio_paths = lambda p: sorted(paths) if p == package else []
        real_noise.RULES = [r for r in saved[1] if r[0] == package]
        real_noise.TONE_FONTS = []
        try:
            with tempfile.TemporaryDirectory() as out:
                jobs, _ = real_noise.plan(out, 1800, 2400)
        finally:
            real_noise.audio_paths, real_noise.RULES, real_noise.TONE_FONTS = saved
        return {j[3]: j[1] for j in jobs}

    def test_families_and_what_is_left_out(self):
        mt = '/usr/share/games/minetest/games/minetest_game/mods/'
        hr = '/usr/share/hyperrogue/'
        ad = '/usr/share/games/0ad/mods/public/public.zip!audio/ambient/'
        ad0 = '/usr/share/games/0ad/mods/public/public.zip!audio/'
        tp = '/usr/share/tuxpaint/stamps/'
        stk = '/usr/share/games/supertuxkart/data/sfx/'
        bt = '/usr/share/games/btanks/data/'
        lu = '/usr/share/games/lugaru/Sounds/'
        nx = '/usr/share/games/nexuiz/data/music.pk3!'
        cases = [
            ('minetest-data', {mt + 'env_sounds/sounds/env_sounds_water.1.ogg': 'water',
                               mt + 'default/sounds/default_cool_lava.2.ogg': 'water',
                               mt + 'default/sounds/default_grass_footstep.1.ogg': 'everyday',
                               mt + 'doors/sounds/doors_door_open.ogg': 'everyday'}),
            ('hyperrogue-music', {hr + 'music/hr3-caves.ogg': 'music',
                                  hr + 'sounds/storm.ogg': 'water',
                                  hr + 'sounds/hit-axe1.ogg': 'effects',
                                  hr + 'sounds/speak-princess.ogg': None,
                                  hr + 'sounds/hit-prince.ogg': None}),
            ('0ad-data', {ad + 'water/river_fast_21.ogg': 'water',
                          ad + 'dusk/wind_gust_3.ogg': 'water',
                          ad + 'dusk/birds_2.ogg': 'ambience',
                          ad0 + 'actor/singlesteps/step_wood_1.ogg': 'effects',
                          ad0 + 'actor/human/death/male_death_01.ogg': None}),
            # Spoken letters and numbers lie four folders below their excluded folder.
            ('tuxpaint-stamps-default', {tp + 'animals/birds/crow.ogg': 'everyday',
                                         tp + 'symbols/math/9_nl.ogg': None,
                                         tp + 'symbols/alphabets/english/outlined/uppercase/'
                                              'E_outline_en_GB.ogg': None,
                                         tp + 'vehicles/cars/car.ogg': 'machine'}),
            ('flightgear-data-base', {'/usr/share/games/flightgear/Sounds/rain.wav': 'water',
                                      '/usr/share/games/flightgear/Sounds/wind.wav': 'water',
                                      '/usr/share/games/flightgear/Aircraft/c172p/Sounds/'
                                      'window-opening.wav': 'ambience',
                                      '/usr/share/games/flightgear/Sounds/atc/tower.wav': None}),
            ('heroes-sound-effects', {'/usr/share/games/heroes/sfx/explo01.wav': 'effects',
                                      '/usr/share/games/heroes/sfx/ho_yeh.wav': None,
                                      '/usr/share/games/heroes/sfx/foule1.wav': None}),
            ('lomiri-sounds', {'/usr/share/sounds/lomiri/ringtones/Koto chords.ogg': 'instrument',
                               '/usr/share/sounds/lomiri/camera/click/camera_click.ogg':
                                   'effects'}),
            ('btanks-data', {bt + 'tunes/menu.ogg': 'music',
                             bt + 'sounds/ambient/swamp.ogg': 'ambience',
                             bt + 'sounds/laugh01.ogg': 'human-nonspeech',
                             bt + 'sounds/explosion.ogg': 'effects'}),
            ('nexuiz-music', {nx + 'sound/cdtracks/chaos-fog.ogg': 'music',
                              nx + 'sound/cdtracks/digital-pursuit.ogg': None}),
            ('drascula-music', {'/usr/share/scummvm/drascula/audio/track3.ogg': 'music',
                                '/usr/share/scummvm/drascula/audio/track29.ogg': None}),
            ('supertuxkart-data', {stk + 'wind.ogg': 'water', stk + 'lenautile_restaurant.ogg': None,
                                   stk + 'sara_airport_pa.ogg': None}),
            ('lugaru-data', {lu + 'Music1Snow.ogg': 'music', lu + 'Wind.ogg': 'ambience',
                             lu + 'Fire.ogg': 'ambience', lu + 'FireStart.ogg': 'effects'}),
        ]
        for package, want in cases:
            with self.subTest(package):
                self.assertEqual(self.filed(package, want),
                                 {p: f for p, f in want.items() if f is not None})


def read_midi(data):
    """(program, [(start tick, end tick, note)]) of a one-track MIDI file."""
    assert data[:4] == b'MThd' and data[14:18] == b'MTrk'
    size = struct.unpack('>I', data[18:22])[0]
    track, i, t = data[22:22 + size], 0, 0
    program, on, notes = None, {}, []
    while i < len(track):
        delta = 0
        while True:
            delta = (delta << 7) | (track[i] & 0x7F)
            i += 1
            if track[i - 1] < 0x80:
                break
        t += delta
        status = track[i]
        if status == 0xFF:
            break
        if status == 0xC0:
            program, i = track[i + 1], i + 2
            continue
        note = track[i + 1]
        if status == 0x90:
            on[note] = t
        else:
            notes.append((on.pop(note), t, note))
        i += 3
    return program, sorted(notes)


class Tones(unittest.TestCase):
    def test_variable_length_quantities(self):
        for n, want in ((0, b'\x00'), (0x7F, b'\x7f'), (0x80, b'\x81\x00'), (0x3FFF, b'\xff\x7f'),
                        (0x4000, b'\x81\x80\x00'), (0x0FFFFFFF, b'\xff\xff\xff\x7f')):
            with self.subTest(n=n):
                self.assertEqual(real_noise.vlq(n), want)

    def test_notes_stay_in_their_register_and_fill_the_piece(self):
        for program, (low, high) in ((0, real_noise.TONE_REGISTERS[0]),
                                     (40, real_noise.TONE_REGISTERS[-1])):
            with self.subTest(program=program):
                midi = real_noise.tone_midi(program, low, high, 20, np.random.default_rng(program))
                got, notes = read_midi(midi)
                self.assertEqual(got, program)
                self.assertTrue(all(low <= n <= high for _, _, n in notes))
                held = [(b - a) / 960 for a, b, _ in notes]
                self.assertTrue(all(0.5 <= h <= 5.0 for h in held), held)
                self.assertTrue(all(b <= a2 for (_, b, _), (a2, _, _) in zip(notes, notes[1:])))
                self.assertGreaterEqual(notes[-1][1], 20 * 960)

    def test_voices_are_never_rendered(self):
        voices = {52, 53, 54, 85, 91}  # choir, voice oohs, synth voice, lead voice, pad choir
        self.assertFalse(voices & set(real_noise.TONE_PROGRAMS))


class Sparse(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        root = self.scratch.name
        os.makedirs(os.path.join(root, 'effects', 'p'))
        square = 8000 * np.resize([1, -1], 3 * RATE)  # never zero: an event is one run
        write_wav(os.path.join(root, 'effects', 'p', 'bang.wav'),
                  np.concatenate([np.zeros(800), square]).astype(np.int16))
        write_wav(os.path.join(root, 'effects', 'p', 'silent.wav'), np.zeros(RATE, np.int16))
        with open(os.path.join(root, 'index.tsv'), 'w') as f:
            f.write('path\tfamily\tpackage\tsplit\tseconds\n'
                    'effects/p/bang.wav\teffects\tp\ttrain\t3.05\n'
                    'effects/p/silent.wav\teffects\tp\ttrain\t1\n')
        self.saved = dict(real.roots)
        real.roots['noise'] = root
        real._noise.clear()
        self.addCleanup(real.roots.update, self.saved)
        self.addCleanup(real._noise.clear)

    def test_events_and_silences(self):
        n = 60 * RATE
        x = real.sparse(['effects', 'no-such-family'], 'train', n, np.random.default_rng(3))
        self.assertEqual(len(x), n)
        events = [(a, b) for a, b in runs(np.abs(x) > 0)]
        self.assertGreater(len(events), 5)
        for a, b in events:  # an event starts at its onset and lasts 0.05-1.5 s
            self.assertLessEqual(b - a, 1.5 * RATE + 1)
        gaps = [a2 - b for (_, b), (a2, _) in zip(events, events[1:])]
        self.assertGreaterEqual(min(gaps), 0.3 * RATE - 1)
        np.testing.assert_array_equal(
            x, real.sparse(['effects'], 'train', n, np.random.default_rng(3)))

    def test_no_pieces_give_silence(self):
        x = real.sparse(['no-such-family'], 'train', RATE, np.random.default_rng(1))
        self.assertFalse(np.any(x))


def runs(mask):
    m = np.concatenate(([False], mask, [False])).astype(np.int8)
    d = np.diff(m)
    return list(zip(np.flatnonzero(d == 1), np.flatnonzero(d == -1)))


if __name__ == '__main__':
    unittest.main()
