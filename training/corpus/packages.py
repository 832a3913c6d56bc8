"""Installed Debian packages as sources of recordings: their files, the entry tables of the
archives they ship, the split a package feeds, and the output folders the decoders own."""
import os
import re
import shutil
import struct
import subprocess


def package_files(package, pattern=''):
    """Sorted regular files of an installed package whose path matches the pattern; [] when the
    package is not installed."""
    try:
        out = subprocess.run(['dpkg', '-L', package], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=False).stdout.decode()
    except OSError:
        return []
    rx = re.compile(pattern)
    return sorted(p for p in out.splitlines() if rx.search(p) and os.path.isfile(p))


def split_of(package, held_out):
    """'valid' for a package held out for validation, 'train' for any other."""
    return 'valid' if package in held_out else 'train'


# ---------------------------------------------------------------- entry tables

def cat_entries(data):
    """The RIFF WAV files stored one after another in an OpenTTD sound catalogue (its bytes);
    an entry whose header or body runs past the end is refused."""
    entries, i = [], data.find(b'RIFF')
    while i >= 0:
        if i + 8 > len(data):
            raise ValueError('catalogue entry at %d: header cut short' % i)
        size = struct.unpack('<I', data[i + 4:i + 8])[0] + 8
        if i + size > len(data):
            raise ValueError('catalogue entry at %d: %d bytes, %d left' % (i, size, len(data) - i))
        entries.append(data[i:i + size])
        i = data.find(b'RIFF', i + size)
    return entries


QTBL_HEAD = 15  # 'QTBL', version, 2 bytes, compression, entry count (big-endian)
QTBL_ENTRY = 21  # name (12 bytes, NUL padded), bundle, offset, size (big-endian)
QTBL_COMPRESSION = {0: 'sb', 1: 'mp3', 2: 'ogg', 3: 'flac'}


def queen_entries(path):
    """Entry table of a FOTAQ resource file ('QTBL'): its compression (None when unknown) and
    (name, offset, size) of every entry; a table or an entry past the end of the file is refused."""
    size = os.path.getsize(path)
    with open(path, 'rb') as f:
        head = f.read(QTBL_HEAD)
        if len(head) < QTBL_HEAD or head[:4] != b'QTBL':
            raise ValueError('%s: not a QTBL resource file' % path)
        count = struct.unpack('>H', head[13:15])[0]
        table = f.read(QTBL_ENTRY * count)
    if len(table) < QTBL_ENTRY * count:
        raise ValueError('%s: entry table cut short' % path)
    entries = []
    for i in range(count):
        rec = table[QTBL_ENTRY * i:QTBL_ENTRY * (i + 1)]
        name = rec[:12].split(b'\0')[0].decode('ascii', 'replace')
        _bundle, offset, length = struct.unpack('>BII', rec[12:21])
        if offset + length > size:
            raise ValueError('%s: entry %s ends at %d, past the end (%d)'
                             % (path, name, offset + length, size))
        entries.append((name, offset, length))
    return QTBL_COMPRESSION.get(head[12]), entries


# ---------------------------------------------------------------- output folders

def claim_folder(folder, marker):
    """Makes `folder` this program's own and empty. A missing or empty folder is created; one that
    holds `marker` (written when this program first claimed it) is emptied; any other folder is
    refused with SystemExit, so that a mistyped path loses nothing."""
    if os.path.isdir(folder) and os.listdir(folder):
        if not os.path.exists(os.path.join(folder, marker)):
            raise SystemExit('%s is not empty and was not made by this program (no %s): '
                             'remove it or choose another folder' % (folder, marker))
        for entry in os.listdir(folder):
            path = os.path.join(folder, entry)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, marker), 'w').close()
