"""Speech sources: asterisk prompts, espeak-ng, festival and flite voices, and their texts."""
import os
import re
import tempfile

import numpy as np

from wavio import g722_to_16k, run, sox_to_16k

ASTERISK_ROOT = '/usr/share/asterisk/sounds'
ASTERISK_VOICES = {'en': 'en_US_f_Allison', 'es': 'es_MX_f_Allison', 'fr': 'fr_CA_f_June',
                   'it': 'it_IT_m_Carlo'}
# Prompts that are tones or silence rather than speech.
ASTERISK_SKIP = re.compile(r'(^|/)(silence/.*|beep|beeperr|ascending-2tone|descending-2tone)\.g722$')
CMUDICT = '/usr/share/festival/dicts/cmu/cmudict-0.4.out'

ESPEAK_LANGS = (
    'af am an ar as az ba be bg bn bs ca cmn cs cv cy da de el en-029 en-gb en-gb-scotland '
    'en-gb-x-rp en-us eo es es-419 et eu fa fi fr-be fr-fr ga gd gn gu hak haw he hi hr ht hu hy '
    'ia id is it ja ka kk kl kn ko ku ky la lb lt lv mi mk ml mr ms mt my nb ne nl om or pa pap pl '
    'pt pt-br quc ro ru si sk sl sq sr sv sw ta te th tk tn tr tt ug uk ur uz vi yue').split()
ESPEAK_VARIANTS = (
    '- m1 m2 m3 m4 m5 m6 m7 m8 f1 f2 f3 f4 f5 croak klatt klatt2 klatt3 klatt4 adam Alex Andrea '
    'Annie antonio aunty belinda ed Gene john Lee linda Mario max norbert robert steph anika '
    'grandpa victor shelby travis iven paul pablo zac').split()
# Held out for validation: whole languages and whole voice variants.
VALID_ESPEAK_LANGS = 'nl pl tr sv hi ko ro fi sw hu'.split()
VALID_ESPEAK_VARIANTS = 'f4 m4 linda norbert'.split()

TRAIN_FIXED = ['asterisk-en', 'asterisk-es', 'asterisk-it', 'festival-kal', 'flite-kal',
               'flite-kal16', 'flite-awb', 'flite-slt']
VALID_FIXED = ['asterisk-fr', 'flite-rms']


def espeak_speakers(split):
    valid = split == 'valid'
    langs = [l for l in ESPEAK_LANGS if (l in VALID_ESPEAK_LANGS) == valid]
    variants = [v for v in ESPEAK_VARIANTS if (v in VALID_ESPEAK_VARIANTS) == valid]
    return ['espeak-%s+%s' % (l, v) if v != '-' else 'espeak-' + l for l in langs for v in variants]


def pick_speaker(split, rng):
    """A voice of the split: asterisk, espeak-ng, festival or flite, by fixed shares."""
    r = rng.random()
    if split == 'train':
        if r < 0.33:
            return ['asterisk-en', 'asterisk-es', 'asterisk-it'][rng.integers(3)]
        if r < 0.43:
            return 'festival-kal'
        if r < 0.58:
            return ['flite-kal', 'flite-kal16', 'flite-awb', 'flite-slt'][rng.integers(4)]
    else:
        if r < 0.33:
            return 'asterisk-fr'
        if r < 0.53:
            return 'flite-rms'
    pool = espeak_speakers(split)
    return pool[rng.integers(len(pool))]


_asterisk_files = {}
_words = []


def asterisk_files(lang):
    if lang not in _asterisk_files:
        root = os.path.join(ASTERISK_ROOT, ASTERISK_VOICES[lang])
        found = []
        for d, _, files in os.walk(root, followlinks=True):
            for f in files:
                rel = os.path.relpath(os.path.join(d, f), root)
                if f.endswith('.g722') and not ASTERISK_SKIP.search(rel):
                    found.append(rel)
        _asterisk_files[lang] = sorted(found)
    return _asterisk_files[lang]


def words():
    if not _words:
        with open(CMUDICT, encoding='latin-1') as f:
            for line in f:
                m = re.match(r'\("([a-z]{2,12})" ', line)
                if m:
                    _words.append(m.group(1))
    return _words


SYLL_C = 'b d f g h k l m n p r s t v z ch sh br tr kl st'.split()
SYLL_V = 'a e i o u ai au ei'.split()


def pseudo_word(rng):
    return ''.join(SYLL_C[rng.integers(len(SYLL_C))] + SYLL_V[rng.integers(len(SYLL_V))]
                   for _ in range(rng.integers(1, 4)))


def make_text(rng, english):
    """A text to speak: single letters, digits or words (short items), numbers, or phrases."""
    kind = rng.choice(['letter', 'digit', 'word', 'number', 'digits', 'phrase', 'phrase'],
                      p=[0.12, 0.08, 0.15, 0.1, 0.1, 0.25, 0.2])
    w = words()

    def word():
        if english or rng.random() < 0.5:
            return w[rng.integers(len(w))]
        return pseudo_word(rng)

    if kind == 'letter':
        return chr(ord('a') + rng.integers(26)).upper()
    if kind == 'digit':
        return str(rng.integers(10))
    if kind == 'word':
        return word()
    if kind == 'number':
        return str(rng.integers(10, 100000))
    if kind == 'digits':
        return ' '.join(str(rng.integers(10)) for _ in range(rng.integers(2, 8)))
    n = rng.integers(2, 13)
    return ' '.join(word() for _ in range(n)) + rng.choice(['.', '?', ',', '!'])


def synth(speaker, rng, tmpdir):
    """One utterance of the speaker as 16 kHz floats (may be empty if the voice says nothing)."""
    kind, _, voice = speaker.partition('-')
    if kind == 'asterisk':
        files = asterisk_files(voice)
        rel = files[rng.integers(len(files))]
        return g722_to_16k(os.path.join(ASTERISK_ROOT, ASTERISK_VOICES[voice], rel))
    if kind == 'espeak':
        text = make_text(rng, voice.startswith('en'))
        cmd = ['espeak-ng', '-v', voice, '-s', str(rng.integers(110, 230)),
               '-p', str(rng.integers(15, 85)), '--stdout', text]
        try:
            raw = run(cmd)
        except RuntimeError:  # a few language/text pairs crash the synthesiser: no utterance
            return np.zeros(0, dtype=np.float32)
        return sox_to_16k('-', stdin=raw, in_type=['-t', 'wav'])
    out = os.path.join(tmpdir, 'u.wav')
    text = make_text(rng, True)
    stretch = '%.2f' % rng.uniform(0.8, 1.3)
    if kind == 'festival':
        run(['text2wave', '-o', out, '-eval', "(Parameter.set 'Duration_Stretch %s)" % stretch],
            stdin=text.encode())
    elif kind == 'flite':
        run(['flite', '-voice', voice, '--setf', 'duration_stretch=' + stretch, '-t', text, '-o', out])
    else:
        raise ValueError('unknown speaker ' + speaker)
    return sox_to_16k(out)


def make_tmpdir():
    return tempfile.mkdtemp(prefix='tarvik-corpus-')
