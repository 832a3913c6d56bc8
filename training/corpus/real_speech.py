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
import shutil
import struct
import subprocess
import sys
import time
import zipfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

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

def frame_dbfs(x, frame=160):
    n = len(x) // frame
    if n == 0:
        return np.array([-120.0])
    e = np.mean(x[:n * frame].reshape(n, frame).astype(np.float64) ** 2, axis=1)
    return 10 * np.log10(e + 1e-12)


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


def package_files(package, pattern):
    """Sorted regular files of an installed package whose path matches the pattern."""
    try:
        out = subprocess.run(['dpkg', '-L', package], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=False).stdout.decode()
    except OSError:
        return []
    rx = re.compile(pattern)
    return sorted(p for p in out.splitlines() if rx.search(p) and os.path.isfile(p))


def clean_name(text):
    return re.sub(r'[^A-Za-z0-9_.+-]+', '_', text).strip('_') or 'x'


def stem(path):
    return clean_name(os.path.splitext(os.path.basename(path))[0])


TUX_DESC = re.compile(r'/([^/]+)_desc_([a-z]{2,3})\.ogg$')
TUX_LETTER = re.compile(r'/symbols/alphabets/.*/([^/]+)_([a-z]{2})_[A-Z]{2}\.ogg$')


def tuxpaint():
    pkg = 'tuxpaint-stamps-default'
    for p in package_files(pkg, r'\.ogg$'):
        m = TUX_DESC.search(p) or TUX_LETTER.search(p)
        if m:
            lang = m.group(2)
            tail = os.path.relpath(p, '/usr/share/tuxpaint/stamps')
            yield Item('tuxpaint', pkg, 'tuxpaint-' + lang, lang, 'wide',
                       clean_name(os.path.splitext(tail)[0].replace('/', '_')), ('file', p))


DRASCULA = {'drascula': 'en', 'drascula-spanish': 'es', 'drascula-italian': 'it'}


def drascula():
    # The letters before the number name the character; lines without letters are the hero's.
    for pkg, lang in sorted(DRASCULA.items()):
        for p in package_files(pkg, r'\.ALS$'):
            who = re.match(r'([A-Za-z]*)\d+\.ALS$', os.path.basename(p))
            role = who.group(1).lower() if who and who.group(1) else 'hero'
            yield Item('drascula', pkg, 'drascula-%s-%s' % (lang, role), lang, 'wide',
                       stem(p), ('u8', p, 0, os.path.getsize(p), 11025))


FILLETS_ROLES = {'m': 'female', 'v': 'male'}
FILLETS_NONSPEECH = re.compile(r'-hurt-')


def fillets():
    for lang in ('cs', 'nl'):
        pkg = 'fillets-ng-data-' + lang
        for p in package_files(pkg, r'/sound/.*\.ogg$'):
            base = os.path.basename(p)
            if FILLETS_NONSPEECH.search(base):
                continue
            level = p.split('/')[-3] if p.split('/')[-2] == lang else p.split('/')[-2]
            m = re.match(r'[a-z0-9]+[-_]([a-z0-9]+)[-_]', base) or re.match(r'([mv])-', base)
            if m:
                code = m.group(1)
                role = FILLETS_ROLES.get(code, '%s-%s' % (level, code))
            else:
                role = level
            yield Item('fillets', pkg, 'fillets-%s-%s' % (lang, role), lang, 'wide',
                       clean_name('%s_%s' % (level, os.path.splitext(base)[0])), ('file', p))


def queen_entries(path):
    """Entry table of a FOTAQ resource file ('QTBL'): (name, offset, size) for every entry."""
    with open(path, 'rb') as f:
        head = f.read(15)
        if len(head) < 15 or head[:4] != b'QTBL':
            raise ValueError('%s: not a QTBL resource file' % path)
        count = struct.unpack('>H', head[13:15])[0]
        table = f.read(21 * count)
    if len(table) < 21 * count:
        raise ValueError('%s: entry table cut short' % path)
    entries = []
    for i in range(count):
        rec = table[21 * i:21 * i + 21]
        name = rec[:12].split(b'\0')[0].decode('ascii', 'replace')
        _bundle, offset, size = struct.unpack('>BII', rec[12:21])
        entries.append((name, offset, size))
    return entries


def queen_compression(path):
    with open(path, 'rb') as f:
        return f.read(13)[12]


def queen():
    pkg = 'flight-of-the-amazon-queen'
    for p in package_files(pkg, r'/queen\.1c?$'):
        kind = {0: 'sb', 1: 'mp3', 2: 'ogg', 3: 'flac'}.get(queen_compression(p))
        size = os.path.getsize(p)
        for name, offset, length in sorted(queen_entries(p)):
            if not name.endswith('.SB') or offset + length > size or kind is None:
                continue
            base = name[:-3]
            role = 'joe' if base.startswith('JOE') or re.match(r'\d{6}J', base) else 'other'
            spec = ('u8', p, offset + 122, length - 122, 11025) if kind == 'sb' else \
                ('span', p, offset, length, kind)
            yield Item('queen', pkg, 'queen-' + role, 'en', 'narrow', clean_name(base), spec)


def festvox_ru():
    pkg = 'festvox-ru'
    for p in package_files(pkg, r'/wav/[^/]+\.wav$'):
        yield Item('festvox-ru', pkg, 'festvox-ru-nsh', 'ru', 'wide', stem(p), ('file', p))


HEDGEWARS_LEFT_OUT = {'Robot', 'Singer'}
HEDGEWARS_LANG = {'Default_es': 'es', 'Default_pl': 'pl', 'Default_ru': 'ru', 'Default_uk': 'uk',
                  'Russian_pl': 'pl'}
# Grunts, laughs, coughs and effort sounds rather than words.
HEDGEWARS_NONSPEECH = re.compile(r'^(Firepunch|Jump|Laugh|Ooff|Ow|Ouch|Poison|Hmm)\d*\.ogg$')


def hedgewars():
    pkg = 'hedgewars-data'
    for p in package_files(pkg, r'/Sounds/voices/[^/]+/[^/]+\.ogg$'):
        pack = p.split('/')[-2]
        if pack in HEDGEWARS_LEFT_OUT or HEDGEWARS_NONSPEECH.match(os.path.basename(p)):
            continue
        yield Item('hedgewars', pkg, 'hedgewars-' + clean_name(pack).lower(),
                   HEDGEWARS_LANG.get(pack, 'en'), 'wide', stem(p), ('file', p))


def zip_members(path, pattern):
    try:
        with zipfile.ZipFile(path) as z:
            return sorted(n for n in z.namelist() if re.search(pattern, n))
    except (OSError, zipfile.BadZipFile):
        return []


WZ_SPEECH = re.compile(r'^(audio/(coltive|countdown|extra|memressp/[^/]+|nexus|proxmessages|'
                       r'taunts/[^/]+|trnsppil|tutorial|vtoltalk)|sequenceaudio)/[^/]+\.ogg$')
WZ_NONSPEECH = re.compile(r'/(laugh\d*|haha\d*|hahaha\d*)\.ogg$')


def archive_lines(pkg, archive, speech, nonspeech):
    """(archive path, member, member path parts, name) of every voice line in the package's
    zip archives: members that match `speech` and not `nonspeech`."""
    for path in package_files(pkg, archive):
        for n in zip_members(path, speech.pattern):
            if nonspeech.search(n):
                continue
            part = n.split('/')
            yield path, n, part, clean_name('_'.join(part[1:-1] + [os.path.splitext(part[-1])[0]]))


def wz2100():
    pkg = 'warzone2100-data'
    for wz, n, part, name in archive_lines(pkg, r'/base\.wz$', WZ_SPEECH, WZ_NONSPEECH):
        role = part[1] if part[0] == 'audio' else 'sequence'
        role = 'memressp' if role == 'memressp' else part[-2] if role == 'taunts' else role
        yield Item('wz2100', pkg, 'wz2100-' + role, 'en', 'wide', name, ('zip', wz, n))


NEXUIZ_SPEECH = re.compile(r'^sound/(announcer/male|player/[^/]+/coms(/[^/]+)?|player/torus|'
                           r'tutorial)/[^/]+\.ogg$')
NEXUIZ_NONSPEECH = re.compile(r'/(death\d*|drown|fall\d*|falling|gasp|jump|pain\d+|hooah|'
                              r'frag_on|misc-door|misc-at_corp_rap|misc-detonate)\.ogg$')


def nexuiz():
    pkg = 'nexuiz-data'
    for pk3, n, part, name in archive_lines(pkg, r'/data\.pk3$', NEXUIZ_SPEECH, NEXUIZ_NONSPEECH):
        role = part[2] if part[1] == 'player' else part[1]
        yield Item('nexuiz', pkg, 'nexuiz-' + clean_name(role), 'en', 'wide', name, ('zip', pk3, n))


MEGAGLEST_NOT_HUMAN = set(
    'chicken ibis scarab snake sphinx mummy anubis_warrior bull thunderbird fire_golem behemoth '
    'daemon dragon evil_dragon golem power_golem wicker_behemoth ghost_armor cow wild_sow elephant '
    'sheep pig genie horse'.split())


def megaglest():
    pkg = 'megaglest-data'
    rx = re.compile(r'/factions/([^/]+)/units/([^/]+)/sounds/[^/]*_(ack|select)\d*\.(wav|ogg)$')
    for p in package_files(pkg, rx.pattern):
        m = rx.search(p)
        faction, unit = m.group(1), m.group(2)
        if unit in MEGAGLEST_NOT_HUMAN:
            continue
        yield Item('megaglest', pkg, 'megaglest-%s-%s' % (faction, unit), 'en', 'wide',
                   stem(p), ('file', p))


def trigger():
    pkg = 'trigger-rally-data'
    for z in package_files(pkg, r'/data\.zip$'):
        for n in zip_members(z, r'^sounds/codriver/[^/]+/[^/]+\.(wav|ogg)$'):
            who = n.split('/')[2]
            yield Item('trigger', pkg, 'trigger-' + clean_name(who), 'en', 'wide',
                       stem(n), ('zip', z, n))


def gcin():
    pkg = 'gcin-voice'
    for p in package_files(pkg, r'/ogg/[^/]+/[^/]+\.ogg$'):
        syllable = p.split('/')[-2]
        name = 'u' + '-'.join('%04x' % ord(c) for c in syllable)
        yield Item('gcin', pkg, 'gcin-' + stem(p), 'zh', 'wide', name, ('file', p))


CODEC2_RAW_SPEECH = {'cq_ref', 'g3plx', 'hts', 'hts1', 'hts2', 'kristoff'}
# Several files are one talker: a plain and a coded take, or the same call sign.
CODEC2_SPEAKER = {'f2400': 'f', 'forig': 'f', 'm2400': 'm', 'morig': 'm', 'hts1': 'hts1',
                  'hts1a': 'hts1', 'hts2': 'hts2', 'hts2a': 'hts2', 've9qrp_10s': 've9qrp'}


def codec2():
    pkg = 'codec2-examples'
    for p in package_files(pkg, r'/usr/share/codec2/(wav/[^/]+\.wav|raw/[^/]+\.(raw|wav))$'):
        name = stem(p)
        if p.endswith('.wav'):
            wide = '16k' in name
            yield Item('codec2', pkg, 'codec2-' + CODEC2_SPEAKER.get(name, name), 'en',
                       'wide' if wide else 'narrow', name, ('file', p))
        elif name in CODEC2_RAW_SPEECH:
            yield Item('codec2', pkg, 'codec2-' + CODEC2_SPEAKER.get(name, name), 'en', 'narrow',
                       name + '-raw',
                       ('s16', p, 0, os.path.getsize(p), 8000))


def pocketsphinx():
    pkg = 'pocketsphinx-testdata'
    for p in package_files(pkg, r'/test/data/.*\.(wav|raw)$'):
        if '/tidigits/' in p:  # a sample of an LDC corpus, not CMU's own recording
            continue
        sub = p.split('/test/data/')[1]
        who = sub.split('/')[0] if '/' in sub else 'misc'
        spec = ('file', p) if p.endswith('.wav') else ('s16', p, 0, os.path.getsize(p), 16000)
        yield Item('pocketsphinx', pkg, 'pocketsphinx-' + clean_name(who), 'en', 'wide',
                   stem(p), spec)


WIMS_DIR = '/var/lib/wims/public_html/modules/help/example/oefquicktool.fr/images/'
# Spoken English words, a speech of J. F. Kennedy and a read French poem; the rest is music.
WIMS_LONG = {'JFKcoupe': ('jfk', 'en'), 'metropolitain': ('poem', 'fr')}
WIMS_WORDS = re.compile(r'^(equal|final|general|hospital|neutral|personal|real|stab)[a-z]*$')


def wims():
    pkg = 'wims-help'
    for p in package_files(pkg, '^' + re.escape(WIMS_DIR) + r'[^/]+\.mp3$'):
        name = stem(p)
        who, lang = WIMS_LONG.get(name, ('words', 'en') if WIMS_WORDS.match(name) else (None, None))
        if who:
            yield Item('wims', pkg, 'wims-' + who, lang, 'wide', name, ('file', p))


ZEROAD_LANG = {'greek': 'grc', 'latin': 'la', 'persian': 'peo', 'napatan': 'xx'}


def zeroad():
    pkg = '0ad-data'
    for z in package_files(pkg, r'/mods/public/public\.zip$'):
        for n in zip_members(z, r'^audio/voice/[^/]+/civ/civ_(female|male)_[^/]+\.ogg$'):
            civ, sex = n.split('/')[2], n.split('/')[-1].split('_')[1]
            yield Item('0ad', pkg, '0ad-%s-%s' % (civ, sex), ZEROAD_LANG.get(civ, 'xx'), 'wide',
                       stem(n), ('zip', z, n))


REDECLIPSE_NONSPEECH = re.compile(r'^(argh|haha|pzap)\d*\.ogg$')


def redeclipse():
    pkg = 'redeclipse-data'
    for p in package_files(pkg, r'/data/sounds/(voice|announcer)/[^/]+\.ogg$'):
        if REDECLIPSE_NONSPEECH.match(os.path.basename(p)):
            continue
        role = p.split('/')[-2]
        yield Item('redeclipse', pkg, 'redeclipse-' + role, 'en', 'wide', stem(p), ('file', p))


def unknown_horizons():
    pkg = 'unknown-horizons'
    for p in package_files(pkg, r'/content/audio/voice/.*\.ogg$'):
        lang = p.split('/audio/voice/')[1].split('/')[0]
        tail = p.split('/audio/voice/%s/' % lang)[1]
        yield Item('unknown-horizons', pkg, 'unknown-horizons-' + lang, lang, 'wide',
                   clean_name(os.path.splitext(tail)[0].replace('/', '_')), ('file', p))


SOURCES = [tuxpaint, drascula, fillets, queen, festvox_ru, hedgewars, wz2100, nexuiz, megaglest,
           trigger, gcin, codec2, pocketsphinx, wims, zeroad, redeclipse,
           unknown_horizons]


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
    for source in SOURCES:
        for it in source():
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


def split_of(package):
    return 'valid' if package in VALID_PACKAGES else 'train'


def build(out, jobs):
    t0 = time.time()
    os.makedirs(out, exist_ok=True)
    for entry in sorted(os.listdir(out)):
        path = os.path.join(out, entry)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif entry.startswith('index.tsv'):
            os.remove(path)
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
                                   '%.3f' % seconds, split_of(it.package)]) + '\n')
    os.replace(tmp, os.path.join(out, 'index.tsv'))
    print('inputs %d, duplicates %d, dropped %s, %.0f s'
          % (len(items), dupes, ' '.join('%s=%d' % kv for kv in sorted(drops.items())) or 'none',
             time.time() - t0))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--out', required=True, help='cache folder (rebuilt from scratch)')
    ap.add_argument('--jobs', type=int, default=6)
    args = ap.parse_args()
    build(args.out, args.jobs)
    open(os.path.join(args.out, 'READY'), 'w').close()


if __name__ == '__main__':
    main()
