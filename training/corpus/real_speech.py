#!/usr/bin/python3
"""Decodes the real speech that Debian packages ship into a cache of 16 kHz mono WAV files.

One utterance per file at <out>/<source>/<speaker>/<name>.wav, listed in <out>/index.tsv.
Run: /usr/bin/python3 training/corpus/real_speech.py --out /work/data/real/speech --jobs 6
"""
import argparse
import hashlib
import multiprocessing
import os
import re
import sys
import time
import zipfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import packages  # noqa: E402
from labels import HOP, frame_db  # noqa: E402
from wavio import RATE, run, sox_to_16k, write_wav  # noqa: E402

# Packages held out whole for validation: several speakers and languages, one narrow-band source.
VALID_PACKAGES = {
    'fillets-ng-data-nl',
    'codec2-examples',
    'gcin-voice',
    'hedgewars-data',
    'trigger-rally-data',
    'unknown-horizons',
}

MIN_SECONDS = 0.15
MAX_SECONDS = 30.0
PIECE_SECONDS = 20.0
SILENT_DBFS = -50.0
TONE_SHARE = 0.9
INDEX_COLUMNS = ['path', 'source', 'package', 'speaker', 'lang', 'band', 'seconds', 'split']


# ---------------------------------------------------------------- decoding

def u8_to_s16(raw):
    """Unsigned 8-bit PCM (silence at 128) to signed 16-bit samples."""
    return ((np.frombuffer(raw, dtype=np.uint8).astype(np.int16) - 128) * 256).astype('<i2')


def resample_s16(pcm, rate):
    if rate == RATE:
        return pcm.astype(np.float32) / 32768.0
    cmd = ['sox', '-D', '-V1', '-t', 'raw', '-r', str(rate), '-e', 'signed', '-b', '16', '-c', '1',
           '-', '-t', 'raw', '-r', str(RATE), '-e', 'signed', '-b', '16', '-c', '1', '-']
    out = run(cmd, np.asarray(pcm, dtype='<i2').tobytes())
    return np.frombuffer(out[:len(out) // 2 * 2], dtype='<i2').astype(np.float32) / 32768.0


def read_span(path, offset, length):
    with open(path, 'rb') as f:
        f.seek(offset)
        return f.read(length)


def load(spec):
    """Decodes one input described by a picklable tuple to 16 kHz floats."""
    kind = spec[0]
    if kind == 'file':
        return sox_to_16k(spec[1])
    if kind == 'zip':
        with zipfile.ZipFile(spec[1]) as z:
            data = z.read(spec[2])
        return sox_to_16k('-', stdin=data, in_type=['-t', spec[2].rsplit('.', 1)[1].lower()])
    if kind == 'span':
        _, path, offset, length, fmt = spec
        return sox_to_16k('-', stdin=read_span(path, offset, length), in_type=['-t', fmt])
    if kind == 'u8':
        _, path, offset, length, rate = spec
        return resample_s16(u8_to_s16(read_span(path, offset, length)), rate)
    if kind == 's16':
        _, path, offset, length, rate = spec
        raw = read_span(path, offset, length)
        return resample_s16(np.frombuffer(raw[:len(raw) // 2 * 2], dtype='<i2'), rate)
    raise ValueError('unknown input kind %r' % kind)


# ---------------------------------------------------------------- screening and cutting

def frame_dbfs(x):
    """Level of every whole 10 ms frame (one frame of -120 dB when there is none)."""
    return frame_db(x[:len(x) // HOP * HOP], HOP)


def tone_share(x, n=1024):
    """Share of the power in the strongest spectral peak (±2 bins): near 1 for a pure tone."""
    frames = len(x) // n
    if frames == 0:
        return 0.0
    w = np.hanning(n)
    p = np.mean(np.abs(np.fft.rfft(x[:frames * n].reshape(frames, n) * w, axis=1)) ** 2, axis=0)
    k = int(np.argmax(p))
    return float(np.sum(p[max(0, k - 2):k + 3]) / (np.sum(p) + 1e-20))


def screen(x):
    """Reason to leave a piece out, or None to keep it."""
    if len(x) < MIN_SECONDS * RATE:
        return 'short'
    if np.max(frame_dbfs(x)) < SILENT_DBFS:
        return 'silent'
    if tone_share(x) > TONE_SHARE:
        return 'tone'
    return None


def cut_points(x, piece=PIECE_SECONDS, limit=MAX_SECONDS):
    """Sample offsets splitting x into pieces of at most `piece` seconds, each cut at the quietest
    10 ms frame of the second half of its window; x is left whole up to `limit` seconds."""
    if len(x) <= limit * RATE:
        return [0, len(x)]
    db = frame_dbfs(x)
    step = int(piece * 100)
    cuts, start = [0], 0
    while len(db) - start > step:
        lo = start + step // 2
        cut = lo + int(np.argmin(db[lo:start + step]))
        cuts.append(cut * 160)
        start = cut
    cuts.append(len(x))
    return cuts


def process(task):
    """Decodes one input and writes its kept pieces; returns rows and the reason for each drop."""
    spec, rel, out = task
    try:
        x = load(spec)
    except (RuntimeError, OSError, zipfile.BadZipFile, KeyError) as e:
        return [], ['error: %s: %s' % (rel, str(e)[:200])]
    cuts = cut_points(x)
    rows, drops = [], []
    for i in range(len(cuts) - 1):
        piece = x[cuts[i]:cuts[i + 1]]
        name = rel if len(cuts) == 2 else '%s-p%02d' % (rel, i)
        why = screen(piece)
        if why is None and len(piece) > MAX_SECONDS * RATE:
            why = 'long'
        if why:
            drops.append(why)
            continue
        path = os.path.join(out, name + '.wav')
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_wav(path, np.clip(np.round(piece * 32768.0), -32768, 32767).astype(np.int16))
        rows.append((name + '.wav', len(piece) / RATE))
    return rows, drops


# ---------------------------------------------------------------- sources

class Item:
    """One input utterance: where it comes from, how to decode it and how to file it."""
    __slots__ = ('source', 'package', 'speaker', 'lang', 'band', 'name', 'spec')

    def __init__(self, source, package, speaker, lang, band, name, spec):
        self.source, self.package, self.speaker = source, package, speaker
        self.lang, self.band, self.name, self.spec = lang, band, name, spec

    def rel(self):
        return '%s/%s/%s' % (self.source, self.speaker, self.name)


def clean_name(text):
    return re.sub(r'[^A-Za-z0-9_.+-]+', '_', text).strip('_') or 'x'


def stem(path):
    return clean_name(os.path.splitext(os.path.basename(path))[0])


def zip_members(path, pattern):
    try:
        with zipfile.ZipFile(path) as z:
            return sorted(n for n in z.namelist() if re.search(pattern, n))
    except (OSError, zipfile.BadZipFile):
        return []


def member_name(n):
    """A zip member's name from its folders below the top one and its stem."""
    part = n.split('/')
    return clean_name('_'.join(part[1:-1] + [os.path.splitext(part[-1])[0]]))


# Labellers: (package, path of a file or name of an archive member) -> (speaker, language, band,
# name), or None to leave it out.

TUX_DESC = re.compile(r'/([^/]+)_desc_([a-z]{2,3})\.ogg$')
TUX_LETTER = re.compile(r'/symbols/alphabets/.*/([^/]+)_([a-z]{2})_[A-Z]{2}\.ogg$')


def tuxpaint(_pkg, p):
    m = TUX_DESC.search(p) or TUX_LETTER.search(p)
    if not m:
        return None
    tail = os.path.relpath(p, '/usr/share/tuxpaint/stamps')
    return ('tuxpaint-' + m.group(2), m.group(2), 'wide',
            clean_name(os.path.splitext(tail)[0].replace('/', '_')))


DRASCULA = {'drascula': 'en', 'drascula-italian': 'it', 'drascula-spanish': 'es'}


def drascula(pkg, p):
    # The letters before the number name the character; lines without letters are the hero's.
    who = re.match(r'([A-Za-z]*)\d+\.ALS$', os.path.basename(p))
    role = who.group(1).lower() if who and who.group(1) else 'hero'
    return 'drascula-%s-%s' % (DRASCULA[pkg], role), DRASCULA[pkg], 'wide', stem(p)


FILLETS_ROLES = {'m': 'female', 'v': 'male'}


def fillets(pkg, p):
    lang = pkg.rsplit('-', 1)[1]
    base = os.path.basename(p)
    level = p.split('/')[-3] if p.split('/')[-2] == lang else p.split('/')[-2]
    m = re.match(r'[a-z0-9]+[-_]([a-z0-9]+)[-_]', base) or re.match(r'([mv])-', base)
    role = FILLETS_ROLES.get(m.group(1), '%s-%s' % (level, m.group(1))) if m else level
    return ('fillets-%s-%s' % (lang, role), lang, 'wide',
            clean_name('%s_%s' % (level, os.path.splitext(base)[0])))


def queen(_pkg, name):
    base = name[:-3]
    role = 'joe' if base.startswith('JOE') or re.match(r'\d{6}J', base) else 'other'
    return 'queen-' + role, 'en', 'narrow', clean_name(base)


def festvox_ru(_pkg, p):
    return 'festvox-ru-nsh', 'ru', 'wide', stem(p)


HEDGEWARS_LANG = {'Default_es': 'es', 'Default_pl': 'pl', 'Default_ru': 'ru', 'Default_uk': 'uk',
                  'Russian_pl': 'pl'}


def hedgewars(_pkg, p):
    pack = p.split('/')[-2]
    return ('hedgewars-' + clean_name(pack).lower(), HEDGEWARS_LANG.get(pack, 'en'), 'wide',
            stem(p))


def wz2100(_pkg, n):
    part = n.split('/')
    role = part[-2] if part[1] == 'taunts' else part[1]
    return 'wz2100-' + role, 'en', 'wide', member_name(n)


def nexuiz(_pkg, n):
    part = n.split('/')
    role = part[2] if part[1] == 'player' else part[1]
    return 'nexuiz-' + clean_name(role), 'en', 'wide', member_name(n)


MEGAGLEST_UNIT = re.compile(
    r'/factions/([^/]+)/units/([^/]+)/sounds/[^/]*_(ack|select)\d*\.(wav|ogg)$')


def megaglest(_pkg, p):
    m = MEGAGLEST_UNIT.search(p)
    return 'megaglest-%s-%s' % (m.group(1), m.group(2)), 'en', 'wide', stem(p)


def trigger(_pkg, n):
    return 'trigger-' + clean_name(n.split('/')[2]), 'en', 'wide', stem(n)


def gcin(_pkg, p):
    syllable = p.split('/')[-2]
    return 'gcin-' + stem(p), 'zh', 'wide', 'u' + '-'.join('%04x' % ord(c) for c in syllable)


# Several files are one talker: a plain and a coded take, or the same call sign.
CODEC2_SPEAKER = {'f2400': 'f', 'forig': 'f', 'm2400': 'm', 'morig': 'm', 'hts1': 'hts1',
                  'hts1a': 'hts1', 'hts2': 'hts2', 'hts2a': 'hts2', 've9qrp_10s': 've9qrp'}


def codec2(_pkg, p):
    name = stem(p)
    who = 'codec2-' + CODEC2_SPEAKER.get(name, name)
    if p.endswith('.raw'):
        return who, 'en', 'narrow', name + '-raw'
    return who, 'en', 'wide' if '16k' in name else 'narrow', name


def pocketsphinx(_pkg, p):
    sub = p.split('/test/data/')[1]
    who = sub.split('/')[0] if '/' in sub else 'misc'
    return 'pocketsphinx-' + clean_name(who), 'en', 'wide', stem(p)


# Spoken English words and a read French poem; the rest is music (and a speech of J. F. Kennedy
# between long stretches of applause and crowd).
WIMS_LONG = {'metropolitain': ('poem', 'fr')}
WIMS_WORDS = re.compile(r'^(equal|final|general|hospital|neutral|personal|real|stab)[a-z]*$')


def wims(_pkg, p):
    name = stem(p)
    who, lang = WIMS_LONG.get(name, ('words', 'en') if WIMS_WORDS.match(name) else (None, None))
    return ('wims-' + who, lang, 'wide', name) if who else None


ZEROAD_LANG = {'greek': 'grc', 'latin': 'la', 'persian': 'peo', 'napatan': 'xx'}


def zeroad(_pkg, n):
    civ, sex = n.split('/')[2], n.split('/')[-1].split('_')[1]
    return '0ad-%s-%s' % (civ, sex), ZEROAD_LANG.get(civ, 'xx'), 'wide', stem(n)


def unknown_horizons(_pkg, p):
    lang = p.split('/audio/voice/')[1].split('/')[0]
    tail = p.split('/audio/voice/%s/' % lang)[1]
    return ('unknown-horizons-' + lang, lang, 'wide',
            clean_name(os.path.splitext(tail)[0].replace('/', '_')))


NO = r'(?!x)x'  # matches nothing
WIMS_DIR = '/var/lib/wims/public_html/modules/help/example/oefquicktool.fr/images/'

# (source, packages, files, members, left out, labeller, rate). `files` is a pattern of the
# package's paths; `members` one of the zip members of those files, 'QTBL' the entries of a FOTAQ
# resource file, None the files themselves; `left out` a pattern of the paths or members that are
# not speech (cries, laughs, effects); `rate` the sample rate of the headerless inputs (.ALS:
# unsigned 8-bit, .raw: signed 16-bit).
READERS = [
    ('tuxpaint', ['tuxpaint-stamps-default'], r'\.ogg$', None, NO, tuxpaint, 0),
    ('drascula', sorted(DRASCULA), r'\.ALS$', None, NO, drascula, 11025),
    ('fillets', ['fillets-ng-data-cs', 'fillets-ng-data-nl'], r'/sound/.*\.ogg$', None,
     r'-hurt-[^/]*$', fillets, 0),
    # Entries named ...SSSS are sound effects (bursts, sweeps, clicks), not voice lines.
    ('queen', ['flight-of-the-amazon-queen'], r'/queen\.1c?$', 'QTBL', r'SSSS\.SB$', queen, 11025),
    ('festvox-ru', ['festvox-ru'], r'/wav/[^/]+\.wav$', None, NO, festvox_ru, 0),
    ('hedgewars', ['hedgewars-data'], r'/Sounds/voices/[^/]+/[^/]+\.ogg$', None,
     r'/(Robot|Singer)/[^/]+$|'
     r'/(Firepunch|Jump|Laugh|Ooff|Ow|Ouch|Poison|PoisonCough|PoisonMoan|Hmm)\d*\.ogg$',
     hedgewars, 0),
    # The cut-scene audio (sequenceaudio/) lays narration over effects: left out.
    ('wz2100', ['warzone2100-data'], r'/base\.wz$',
     r'^audio/(coltive|countdown|extra|memressp/[^/]+|nexus|proxmessages|taunts/[^/]+|trnsppil|'
     r'tutorial|vtoltalk)/[^/]+\.ogg$',
     r'/(laugh\d*|haha\d*|hahaha\d*)\.ogg$', wz2100, 0),
    ('nexuiz', ['nexuiz-data'], r'/data\.pk3$',
     r'^sound/(announcer/male|player/[^/]+/coms(/[^/]+)?|player/torus|tutorial)/[^/]+\.ogg$',
     r'/(death\d*|drown|fall\d*|falling|gasp|jump|pain\d+|hooah|frag_on|misc-door|'
     r'misc-at_corp_rap|misc-detonate)\.ogg$', nexuiz, 0),
    ('megaglest', ['megaglest-data'], MEGAGLEST_UNIT.pattern, None,
     r'/units/(chicken|ibis|scarab|snake|sphinx|mummy|anubis_warrior|bull|thunderbird|fire_golem|'
     r'behemoth|daemon|dragon|evil_dragon|golem|power_golem|wicker_behemoth|ghost_armor|cow|'
     r'wild_sow|elephant|sheep|pig|genie|horse)/', megaglest, 0),
    ('trigger', ['trigger-rally-data'], r'/data\.zip$', r'^sounds/codriver/[^/]+/[^/]+\.(wav|ogg)$',
     NO, trigger, 0),
    ('gcin', ['gcin-voice'], r'/ogg/[^/]+/[^/]+\.ogg$', None, NO, gcin, 0),
    # david4 and vk2tpm_004 are modem waveforms, not speech.
    ('codec2', ['codec2-examples'], r'/usr/share/codec2/(wav/[^/]+\.wav|raw/[^/]+\.(raw|wav))$',
     None, r'/raw/(?!(cq_ref|g3plx|hts|hts1|hts2|kristoff)\.raw$)[^/]+\.raw$|'
     r'/wav/(david4|vk2tpm_004)\.wav$', codec2, 8000),
    # The TIDIGITS sample is a piece of an LDC corpus, not CMU's own recording.
    ('pocketsphinx', ['pocketsphinx-testdata'], r'/test/data/.*\.(wav|raw)$', None, r'/tidigits/',
     pocketsphinx, 16000),
    ('wims', ['wims-help'], '^' + re.escape(WIMS_DIR) + r'[^/]+\.mp3$', None, NO, wims, 0),
    ('0ad', ['0ad-data'], r'/mods/public/public\.zip$',
     r'^audio/voice/[^/]+/civ/civ_(female|male)_[^/]+\.ogg$', NO, zeroad, 0),
    ('unknown-horizons', ['unknown-horizons'], r'/content/audio/voice/.*\.ogg$', None, NO,
     unknown_horizons, 0),
]


def file_spec(path, rate):
    if path.endswith('.ALS'):
        return ('u8', path, 0, os.path.getsize(path), rate)
    if path.endswith('.raw'):
        return ('s16', path, 0, os.path.getsize(path), rate)
    return ('file', path)


def queen_specs(path, rate):
    """(entry name, spec) of the voice lines (.SB) of a FOTAQ resource file: 8-bit samples behind
    a 122-byte header, or compressed streams."""
    kind, entries = packages.queen_entries(path)
    if kind is None:
        return []
    return [(name, ('u8', path, offset + 122, length - 122, rate) if kind == 'sb' else
             ('span', path, offset, length, kind))
            for name, offset, length in sorted(entries) if name.endswith('.SB')]


def read_all(reader):
    """The Items of one row of READERS, in the order of the package's sorted paths."""
    source, pkgs, files, members, left_out, label, rate = reader
    skip = re.compile(left_out)
    for pkg in pkgs:
        for path in packages.package_files(pkg, files):
            if members == 'QTBL':
                found = queen_specs(path, rate)
            elif members:
                found = [(n, ('zip', path, n)) for n in zip_members(path, members)]
            else:
                found = [(path, file_spec(path, rate))]
            for where, spec in found:
                what = None if skip.search(where) else label(pkg, where)
                if what:
                    yield Item(source, pkg, *what, spec)


# ---------------------------------------------------------------- the cache

def input_key(spec):
    """Content digest of an input, so that a recording shipped twice is used once."""
    kind = spec[0]
    if kind == 'zip':
        with zipfile.ZipFile(spec[1]) as z:
            data = z.read(spec[2])
    elif kind == 'file':
        with open(spec[1], 'rb') as f:
            data = f.read()
    else:
        data = read_span(spec[1], spec[2], spec[3])
    return hashlib.sha1(data).hexdigest()


def safe_key(spec):
    try:
        return input_key(spec)
    except (OSError, zipfile.BadZipFile, KeyError):
        return None


def collect():
    items, seen = [], set()
    for reader in READERS:
        for it in read_all(reader):
            rel = it.rel()
            n = 1
            while rel in seen:
                n += 1
                rel = '%s/%s/%s~%d' % (it.source, it.speaker, it.name, n)
            it.name = rel.rsplit('/', 1)[1]
            seen.add(rel)
            items.append(it)
    items.sort(key=lambda i: i.rel())
    return items


MARKER = '.real_speech'


def build(out, jobs):
    t0 = time.time()
    packages.claim_folder(out, MARKER)
    items = collect()
    with multiprocessing.Pool(jobs) as pool:
        keys = pool.map(safe_key, [i.spec for i in items], chunksize=16)
        firsts, seen = [], set()
        for it, key in zip(items, keys):
            if key is not None and key in seen:
                continue
            seen.add(key)
            firsts.append(it)
        dupes = len(items) - len(firsts)
        results = pool.map(process, [(i.spec, i.rel(), out) for i in firsts], chunksize=8)
    drops = {}
    tmp = os.path.join(out, 'index.tsv.tmp')
    with open(tmp, 'w') as f:
        f.write('\t'.join(INDEX_COLUMNS) + '\n')
        for it, (rows, why) in zip(firsts, results):
            for w in why:
                drops[w.split(':')[0]] = drops.get(w.split(':')[0], 0) + 1
                if w.startswith('error'):
                    print(w, file=sys.stderr)
            for path, seconds in rows:
                f.write('\t'.join([path, it.source, it.package, it.speaker, it.lang, it.band,
                                   '%.3f' % seconds,
                                   packages.split_of(it.package, VALID_PACKAGES)]) + '\n')
    os.replace(tmp, os.path.join(out, 'index.tsv'))
    print('inputs %d, duplicates %d, dropped %s, %.0f s'
          % (len(items), dupes, ' '.join('%s=%d' % kv for kv in sorted(drops.items())) or 'none',
             time.time() - t0))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--out', required=True,
                    help='cache folder (rebuilt from scratch; refused when it holds anything else)')
    ap.add_argument('--jobs', type=int, default=6)
    args = ap.parse_args()
    build(args.out, args.jobs)
    open(os.path.join(args.out, 'READY'), 'w').close()


if __name__ == '__main__':
    main()
