"""WAV writing and decoding of source audio to 16 kHz mono float arrays."""
import struct
import subprocess

import numpy as np

RATE = 16000


def write_wav(path, pcm):
    """Writes int16 samples as a 16 kHz mono 16-bit WAV with a plain 44-byte header."""
    data = np.asarray(pcm, dtype='<i2').tobytes()
    header = struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + len(data), b'WAVE', b'fmt ', 16, 1, 1,
                         RATE, RATE * 2, 2, 16, b'data', len(data))
    with open(path, 'wb') as f:
        f.write(header)
        f.write(data)


def read_wav16(path):
    """Reads a 16 kHz mono 16-bit WAV written by write_wav as floats in [-1, 1)."""
    with open(path, 'rb') as f:
        raw = f.read()
    return np.frombuffer(raw[44:], dtype='<i2').astype(np.float32) / 32768.0


def raw_to_float(raw):
    return np.frombuffer(raw[:len(raw) // 2 * 2], dtype='<i2').astype(np.float32) / 32768.0


def run(cmd, stdin=None):
    """Runs a command and returns its standard output; raises with its error text on failure."""
    p = subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if p.returncode != 0:
        raise RuntimeError('%s failed (status %d): %s'
                           % (' '.join(cmd), p.returncode, p.stderr.decode(errors='replace')[-500:]))
    return p.stdout


SOX_OUT = ['-t', 'raw', '-r', str(RATE), '-e', 'signed', '-b', '16', '-c', '1', '-']


def sox_to_16k(path_or_dash, effects=(), stdin=None, in_type=()):
    """Decodes any sox-readable input to 16 kHz mono floats, applying sox effects on the way."""
    cmd = ['sox', '-D', '-V1'] + list(in_type) + [path_or_dash] + SOX_OUT + list(effects)
    return raw_to_float(run(cmd, stdin))


def g722_to_16k(path):
    cmd = ['ffmpeg', '-nostdin', '-hide_banner', '-loglevel', 'error', '-f', 'g722', '-i', path,
           '-f', 's16le', '-ac', '1', '-ar', str(RATE), '-']
    return raw_to_float(run(cmd))
