"""Decodes real non-speech from Debian packages into a cache of 16 kHz mono WAV pieces.

    real_noise.py --out DIR [--jobs N] [--max-hours-per-package H]

Writes DIR/<family>/<package>/<name>.wav (pieces of at most 60 s), DIR/index.tsv, the impulse
responses DIR/ir/*.npy with DIR/ir/index.tsv, and DIR/READY last. Packages that are not installed
are skipped. Speech and singing are left out by path.
"""
import argparse
import functools
import multiprocessing
import os
import re
import struct
import sys
import tempfile
import zipfile

import numpy as np

import packages
from wavio import RATE, raw_to_float, run, sox_to_16k, write_wav

# Whole packages held out for validation, by the family they mainly feed; a held-out package is
# validation in every family it appears in.
HELD_OUT = {
    'music': ['wesnoth-1.16-music', 'singularity-music', 'nexuiz-music'],
    'ambience': ['ufoai-sound'],
    'machine': ['openttd-opensfx'],
    'everyday': ['qabcs-data'],
    'instrument': ['sonic-pi-samples'],
}
VALID_PACKAGES = {p for ps in HELD_OUT.values() for p in ps}

AUDIO = r'\.(ogg|opus|wav|mp3|flac|aiff?|mod|xm|s3m|it|mid)$'
SPEECH = (r'voice|vocal|singer|singing|\bsing\b|song|choir|chant|speech|spoken|announc|callout|\batis|'
          r'\batc\b|_desc|lyric|news|radiomessage|aliencom')
NO = r'(?!x)x'  # matches nothing
# Water, rain, wind and storms: streams, rivers, fountains, surf, drips and splashes.
WATER = (r'(water|rain(?!bow)|wind(?!ow)|storm|thunder|river|stream|creek|brook|fountain|splash|'
         r'drip|wave|surf|ocean|bubbl|lake|shower)')

# (package, family, path pattern, exclusion pattern); the first matching rule of a package wins.
RULES = [
    ('ufoai-music', 'music', r'[/!]music/', SPEECH),
    ('warzone2100-music', 'music', r'[/!]music/', SPEECH),
    ('planetblupi-music-ogg', 'music', r'[/!]music/', SPEECH),
    ('wesnoth-1.16-music', 'music', r'/music/', SPEECH + r'|nunc_dimittis|heroes_rite|love_theme'),
    ('singularity-music', 'music', r'[/!]music/', SPEECH),
    ('nexuiz-music', 'music', r'cdtracks/', SPEECH + r'|digital-pursuit'),
    ('hedgewars-data', 'music', r'/Music/', SPEECH),
    ('hedgewars-data', 'effects', r'/Sounds/[^/]+$',
     SPEECH + r'|yoohoo|kiss|countdown|hell|extratime|suddendeath|homerun|denied|valkyries|custom|'
     r'lowgravity|beewater'),
    ('tecnoballz-data', 'music', r'/musics/', SPEECH),
    ('tecnoballz-data', 'effects', r'/sounds/', SPEECH),
    ('pingus-data', 'music', r'[/!]music/', SPEECH),
    ('pingus-data', 'effects', r'/sounds/', SPEECH + r'|goodidea|letsgo|ohno|yipee'),
    ('openttd-openmsx', 'music', r'\.mid$', NO),
    ('simutrans-data', 'music', r'\.mid$', NO),
    ('freedink-data', 'music', r'\.(mid|ogg)$', NO),
    ('freedink-data', 'human-nonspeech', r'/(grunt\d|wscream)\.wav$', NO),
    ('freedink-data', 'effects', r'\.wav$', r'nono|intro|high2'),
    ('0ad-data', 'water', r'audio/ambient/.*' + WATER, SPEECH),
    ('0ad-data', 'music', r'audio/music/', SPEECH),
    ('0ad-data', 'ambience', r'audio/ambient/', SPEECH),
    ('0ad-data', 'effects', r'audio/(actor|interface|attack)/',
     SPEECH + r'|/human/|/animal/voice|temple'),
    ('naev-data', 'music', r'[/!]music/', SPEECH),
    ('widelands-data', 'music', r'[/!]music/', SPEECH),
    ('widelands-data', 'everyday', r'/sound/', SPEECH + r'|tavern'),
    ('supertux-data', 'water', r'/sounds/[^/]*' + WATER, SPEECH),
    ('supertux-data', 'music', r'[/!]music/', SPEECH),
    ('supertuxkart-data', 'water', r'/sfx/[^/]*' + WATER, SPEECH),
    ('supertuxkart-data', 'music', r'[/!]music/', SPEECH),
    ('supertuxkart-data', 'ambience', r'/sfx/',
     SPEECH + r'|announce|goo|horn|wee|restaurant|airport_pa|static-radio'),
    ('berusky2-data', 'music', r'[/!]music/', SPEECH),
    ('ufoai-sound', 'ambience', r'sound/ambience/', SPEECH),
    ('ufoai-sound', 'effects', r'sound/(footsteps|impact|doors|weapons|misc)/', SPEECH + r'|talk'),
    ('ufoai-sound', 'human-nonspeech', r'sound/(soldiers|civilians)/', SPEECH),
    ('megaglest-data', 'water', r'/water_sounds/|/tilesets/.*' + WATER, SPEECH),
    ('megaglest-data', 'ambience', r'/tilesets/', SPEECH),
    ('redeclipse-data', 'water', r'ambien.*' + WATER, SPEECH),
    ('redeclipse-data', 'ambience', r'ambien', SPEECH),
    ('flightgear-data-base', 'water', r'/Sounds/(rain|wind(?!ow))[^/]*$|/Sounds/water-(fast|still)',
     NO),
    ('flightgear-data-base', 'ambience', r'/Sounds/',
     SPEECH + r'|/voices?/|atc|tts|mk-viii|tcas|gpws|callout|warning|/ai/|female|\bmale'),
    ('flare-game', 'water', r'soundfx/environment/[^/]*' + WATER, SPEECH),
    ('flare-game', 'ambience', r'soundfx/environment/', SPEECH),
    ('flare-game', 'effects', r'soundfx/', SPEECH + r'|/npcs/|/enemies/'),
    ('qabcs-data', 'everyday', r'/all/noises/',
     r'cheburashka|chef|clown|dogmatix|dunno|emelya|ivasyk|joker|ole_lukoje|pishik|prince|sailorboy|'
     r'schooler|umka|ursula|x-men|yaga|gamekeeper|pupil|ode|walkie|quiz|robot|display|sound|xbox|'
     r'doll|yeti|firebird|kinder|circus|ear|earth|star|yinyang|quarter'),
    ('tuxpaint-stamps-default', 'machine', r'/stamps/(vehicles|town)/.*\.(ogg|wav)$', SPEECH),
    ('tuxpaint-stamps-default', 'everyday', r'/stamps/.*\.(ogg|wav)$',
     SPEECH + r'|/symbols/|/people/|/seasonal/|apollo_lander'),
    ('lincity-ng-data', 'water', r'/sounds/[^/]*' + WATER, SPEECH),
    ('lincity-ng-data', 'machine', r'/sounds/', SPEECH + r'|substation'),
    ('scratch', 'water', r'/Effects/(WaterRunning|WaterDrop|Bubbles)', NO),
    ('scratch', 'human-nonspeech', r'/Human/(Cough|Laugh|Scream|Sneeze|BabyCry|Slurp)', NO),
    ('scratch', 'everyday', r'/(Animal|Effects)/|/Human/(Footsteps|FingerSnap)', NO),
    ('scratch', 'effects', r'/Electronic/', NO),
    ('scratch', 'instrument', r'/(Instruments|Percussion)/', NO),
    ('scratch', 'music', r'/Music Loops/', r'Beatbox'),
    ('openttd-opensfx', 'machine', r'opensfx\.cat!', NO),
    ('torcs-data', 'machine', r'/sound/', SPEECH),
    ('hydrogen-drumkits', 'instrument', r'/drumkits/', SPEECH),
    ('sonic-pi-samples', 'human-nonspeech', r'misc_burp', NO),
    ('sonic-pi-samples', 'instrument', r'/samples/', r'choir|voxy|robot|misc_crow|phone'),
    ('lmms-common', 'human-nonspeech', r'/misc/(breath|snaph|applause)', NO),
    ('lmms-common', 'effects', r'/samples/effects/', NO),
    ('lmms-common', 'instrument', r'/samples/', SPEECH + r'|raving_crowd|/waveforms/|/shapes/'),
    ('bucklespring-data', 'keyboard', r'/buckle/', NO),
    ('minetest-data', 'water', r'/sounds/[^/]*(' + WATER[1:-1] + r'|lava)', NO),
    ('minetest-data', 'everyday', r'/sounds/', SPEECH),
    ('hyperrogue-music', 'music', r'/music/', SPEECH),
    ('hyperrogue-music', 'water', r'/sounds/(splash\d|storm|seen-water|steamhiss)', NO),
    ('hyperrogue-music', 'effects', r'/sounds/',
     SPEECH + r'|speak-|dzia-|prince|message-|nervous|die-fairy|'
     r'seen-(cultist|gardener|necromancer|vizier)'),
    ('extremetuxracer-data', 'music', r'/music/', SPEECH),
    ('extremetuxracer-data', 'everyday', r'/sounds/', SPEECH),
    ('wesnoth-1.16-data', 'ambience', r'/sounds/ambient/', SPEECH),
    ('xmoto-data', 'music', r'/Musics/', SPEECH),
    ('asc-music', 'music', r'/music/', SPEECH),
    ('lomiri-sounds', 'instrument', r'/(ringtones|notifications)/', SPEECH),
    ('lomiri-sounds', 'effects', r'/camera/', NO),
    ('oxygen-sounds', 'effects', r'/Oxygen-', SPEECH),
    ('heroes-sound-effects', 'effects', r'/sfx/', r'ho_yeh|/no\.|/oh\.|/go\.|/stop\.|foule|mort_b'),
    ('lugaru-data', 'music', r'/Sounds/Music', NO),
    ('lugaru-data', 'ambience', r'/Sounds/(DesertAmbient|Wind|Fire\.|BushRustle)', NO),
    ('lugaru-data', 'effects', r'/Sounds/', NO),
    ('endless-sky-data', 'machine', r'/sounds/ambient/', NO),
    ('endless-sky-data', 'effects', r'/sounds/', SPEECH),
    ('freeorion-data', 'effects', r'/data/sound/', SPEECH),
    # Tracks 1, 2 and 29-31 carry voices (Silero VAD marks 31-93 % of their frames speech).
    ('drascula-music', 'music', r'/drascula/audio/', r'/track(1|2|29|30|31)\.ogg$'),
    ('deepin-sound-theme', 'effects', r'/sounds/deepin/', NO),
    ('btanks-data', 'music', r'/tunes/', SPEECH),
    ('btanks-data', 'ambience', r'/sounds/ambient/', SPEECH),
    ('btanks-data', 'human-nonspeech', r'/sounds/(laugh|deadman|kamikaze)', NO),
    ('btanks-data', 'effects', r'/sounds/', SPEECH),
    ('manaplus-data', 'effects', r'/sfx/', NO),
    ('bzflag-data', 'effects', r'/bzflag/[^/]*\.wav$', SPEECH),
    ('meritous-data', 'effects', r'/meritous/a/', NO),
]
IRS = [('jconvolver-config-files', '/usr/share/jconvolver/config-files/demo-reverbs/street2-L.wav'),
       ('jconvolver-config-files', '/usr/share/jconvolver/config-files/demo-reverbs/street2-R.wav'),
       ('python3-pyo', '/usr/lib/python3/dist-packages/pyo/lib/snds/IRMediumHallStereo.wav')]
SOUNDFONT = '/usr/share/sounds/sf2/FluidR3_GM.sf2'
# Sustained notes of one General MIDI instrument at a time in one register, rendered from note
# lists made here: (package, sound font). Voices, choirs and the sound effects are left out.
TONE_FONTS = [('fluid-soundfont-gm', SOUNDFONT),
              ('timgm6mb-soundfont', '/usr/share/sounds/sf2/TimGM6mb.sf2')]
TONE_PROGRAMS = [p for p in range(120) if p not in (52, 53, 54, 85, 91)]
TONE_REGISTERS = [(24, 47), (40, 63), (55, 78), (72, 96)]  # MIDI notes
TONE_SECONDS = 20
TONE = re.compile(r'^(.*\.sf2)#(\d+):(\d+):(\d+)$')
PIECE = 60 * RATE
NON_MUSIC_FILE_SECONDS = 180
MAX_FILES = 400  # per package and family: a spread of the files
MARKER = '.real_noise'


def audio_paths(package):
    """Audio paths of an installed package, archive members as 'archive!member', sorted."""
    out = []
    for p in packages.package_files(package):
        if re.search(r'\.(pk3|zip)$', p):
            with zipfile.ZipFile(p) as z:
                out += ['%s!%s' % (p, m) for m in sorted(z.namelist()) if re.search(AUDIO, m, re.I)]
        elif p.endswith('opensfx.cat'):
            out += ['%s!%03d' % (p, i) for i in range(len(read_catalogue(p)))]
        elif re.search(AUDIO, p, re.I):
            out.append(p)
    return out


def read_catalogue(path):
    with open(path, 'rb') as f:
        return packages.cat_entries(f.read())


@functools.lru_cache(maxsize=4)
def open_archive(archive):
    return read_catalogue(archive) if archive.endswith('.cat') else zipfile.ZipFile(archive)


MEMBER = re.compile(r'^(.*\.(?:pk3|zip|cat))!(.*)$')


def read_member(path):
    archive, member = MEMBER.match(path).groups()
    a = open_archive(archive)
    return a[int(member)] if isinstance(a, list) else a.read(member)


def ffmpeg(path, limit, data=None):
    cmd = ['ffmpeg', '-nostdin', '-hide_banner', '-loglevel', 'error', '-i', '-' if data else path,
           '-t', str(limit), '-ac', '1', '-ar', str(RATE), '-f', 's16le', '-']
    return raw_to_float(run(cmd, data))


def vlq(n):
    """A MIDI variable-length quantity."""
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.append(0x80 | (n & 0x7F))
    return bytes(reversed(out))


def tone_midi(program, low, high, seconds, rng):
    """A one-track MIDI file: notes of `program` between `low` and `high` held 0.5-5 s, one at a
    time, with rests of up to 1.5 s now and then (960 ticks a second)."""
    events, t = [(0, bytes([0xC0, program]))], 0
    while t < seconds * 960:
        note, vel = int(rng.integers(low, high + 1)), int(rng.integers(50, 121))
        held = int(rng.uniform(0.5, 5.0) * 960)
        rest = int(rng.uniform(0.0, 1.5) * 960) if rng.random() < 0.6 else 0
        events += [(t, bytes([0x90, note, vel])), (t + held, bytes([0x80, note, 0]))]
        t += held + rest
    track, last = b'', 0
    for when, ev in sorted(events, key=lambda e: e[0]):
        track += vlq(when - last) + ev
        last = when
    track += b'\x00\xff\x2f\x00'
    return (b'MThd' + struct.pack('>IHHH', 6, 0, 1, 480) + b'MTrk' + struct.pack('>I', len(track))
            + track)


def render_midi(midi, font, trim):
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, 'm.wav')
        run(['fluidsynth', '-ni', '-q', '-g', '0.5', '-r', str(RATE), '-F', wav, font, midi])
        return sox_to_16k(wav, trim)


def decode(path, limit):
    """The first limit seconds of any audio file or archive member, or of the notes a tone path
    names ('<font>#<program>:<low>:<high>'), at 16 kHz mono. Sox starts much faster than ffmpeg,
    so ffmpeg only takes what sox cannot read."""
    trim = ['trim', '0', str(limit)]
    tone = TONE.match(path)
    if tone:
        font, program, low, high = tone.group(1), *map(int, tone.groups()[1:])
        rng = np.random.default_rng([program, low, high])
        with tempfile.NamedTemporaryFile(suffix='.mid') as f:
            f.write(tone_midi(program, low, high, TONE_SECONDS, rng))
            f.flush()
            return render_midi(f.name, font, trim)
    if MEMBER.match(path):
        data = read_member(path)
        kind = 'wav' if data[:4] == b'RIFF' else path.rsplit('.', 1)[-1].lower()
        try:
            return sox_to_16k('-', trim, data, ['-t', kind])
        except RuntimeError:
            return ffmpeg(path, limit, data)
    if path.lower().endswith('.mid'):
        return render_midi(path, SOUNDFONT, trim)
    if re.search(r'\.(ogg|wav|flac|aiff?)$', path, re.I):
        try:
            return sox_to_16k(path, trim)
        except RuntimeError:
            pass
    return ffmpeg(path, limit)


def piece_name(path):
    stem = re.sub(r'\.[A-Za-z0-9]+$', '', path.replace('!', '/'))
    return re.sub(r'[^A-Za-z0-9_-]+', '_', '_'.join(stem.split('/')[-3:])).strip('_')


def work(job):
    """Decodes one file into pieces; returns [(relative path, seconds)]."""
    out, family, package, path, limit = job
    try:
        x = decode(path, limit)
    except (RuntimeError, OSError) as e:
        print('skipped %s: %s' % (path, str(e)[-200:]), file=sys.stderr)
        return []
    loud = np.nonzero(np.abs(x) > 1e-4)[0]
    if len(loud) == 0 or loud[-1] - loud[0] < RATE // 10:
        return []
    x = x[loud[0]:loud[-1] + 1]
    pieces = int(np.ceil(len(x) / PIECE))
    rows = []
    for k, part in enumerate(np.array_split(x, pieces)):
        if np.sqrt(np.mean(part ** 2)) < 10 ** (-65 / 20):
            continue
        rel = os.path.join(family, package, '%s-%02d.wav' % (piece_name(path), k))
        write_wav(os.path.join(out, rel), np.clip(np.round(part * 32768), -32768, 32767))
        rows.append((rel, len(part) / RATE))
    return rows


def tail(path):
    """The last three components of a path, where speech and singing show in names."""
    return '/'.join(path.replace('!', '/').split('/')[-3:])


def excluded(exclude, path, match):
    """Whether a rule's exclusion names the path: in its last components, or anywhere from where
    the rule's pattern matched (folders such as '/symbols/' can lie deeper than the last three)."""
    return bool(re.search(exclude, tail(path), re.I) or
                re.search(exclude, path[match.start():], re.I))


def plan(out, cap_music, cap_other):
    """Jobs (out, family, package, path, limit seconds) and the cap of each (family, package)."""
    jobs, caps = [], {}
    for package in sorted({r[0] for r in RULES}):
        chosen = {}
        for path in audio_paths(package):
            for pkg, family, pattern, exclude in RULES:
                match = re.search(pattern, path, re.I) if pkg == package else None
                if match:
                    if not excluded(exclude, path, match):
                        chosen.setdefault(family, []).append(path)
                    break
        for family, paths in sorted(chosen.items()):
            cap = cap_music if family == 'music' else cap_other
            caps[(family, package)] = cap
            if family == 'music':  # a spread of the tracks, a share of each
                limit = max(45.0, cap / len(paths))
                k = min(len(paths), int(np.ceil(cap / limit)))
            else:
                limit, k = NON_MUSIC_FILE_SECONDS, min(len(paths), MAX_FILES)
            paths = [paths[i * len(paths) // k] for i in range(k)]
            os.makedirs(os.path.join(out, family, package), exist_ok=True)
            jobs += [(out, family, package, p, limit) for p in paths]
    for package, font in TONE_FONTS:
        if not os.path.isfile(font):
            continue
        tones = ['%s#%d:%d:%d' % (font, p, lo, hi)
                 for p in TONE_PROGRAMS for lo, hi in TONE_REGISTERS]
        k = min(len(tones), int(cap_other // TONE_SECONDS))
        caps[('tones', package)] = cap_other
        os.makedirs(os.path.join(out, 'tones', package), exist_ok=True)
        jobs += [(out, 'tones', package, tones[i * len(tones) // k], TONE_SECONDS)
                 for i in range(k)]
    return jobs, caps


def write_irs(out):
    os.makedirs(os.path.join(out, 'ir'))
    rows = []
    for package, path in IRS:
        if not os.path.isfile(path):
            continue
        h = sox_to_16k(path, ['remix', '1'])  # first channel
        h = h / np.max(np.abs(h))
        name = re.sub(r'\W+', '_', os.path.basename(path).rsplit('.', 1)[0]) + '.npy'
        np.save(os.path.join(out, 'ir', name), h.astype(np.float32))
        rows.append('%s\t%s\t%.3f' % (name, package, len(h) / RATE))
    with open(os.path.join(out, 'ir', 'index.tsv'), 'w') as f:
        f.write('path\tpackage\tseconds\n' + ''.join(r + '\n' for r in rows))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--out', required=True,
                    help='cache folder (rebuilt from scratch; refused when it holds anything else)')
    ap.add_argument('--jobs', type=int, default=6)
    ap.add_argument('--max-hours-per-package', type=float, default=None)
    a = ap.parse_args()
    packages.claim_folder(a.out, MARKER)
    cap = a.max_hours_per_package
    jobs, caps = plan(a.out, cap * 3600 if cap else 1800, cap * 3600 if cap else 2400)
    write_irs(a.out)
    with multiprocessing.Pool(a.jobs) as pool:
        results = pool.map(work, jobs, chunksize=4)
    used, rows = {}, []
    for (_, family, package, _, _), pieces in zip(jobs, results):
        for rel, sec in pieces:
            if used.get((family, package), 0.0) + sec > caps[(family, package)]:
                os.remove(os.path.join(a.out, rel))
                continue
            used[(family, package)] = used.get((family, package), 0.0) + sec
            rows.append('%s\t%s\t%s\t%s\t%.3f' % (rel, family, package,
                                                 packages.split_of(package, VALID_PACKAGES), sec))
    with open(os.path.join(a.out, 'index.tsv'), 'w') as f:
        f.write('path\tfamily\tpackage\tsplit\tseconds\n' + ''.join(r + '\n' for r in sorted(rows)))
    for (family, package), sec in sorted(used.items()):
        print('%-16s %-26s %-5s %6.1f min' % (family, package,
              packages.split_of(package, VALID_PACKAGES), sec / 60))
    with open(os.path.join(a.out, 'READY'), 'w') as f:
        f.write('%d pieces\n' % len(rows))


if __name__ == '__main__':
    main()
