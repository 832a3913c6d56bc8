#!/usr/bin/python3
"""Package sources: the entry tables of the archives (FOTAQ, OpenTTD catalogue), bounds included,
and the output folders a decoder may empty.
Run: /usr/bin/python3 -m unittest discover -s training/corpus -p 'test_*.py'"""
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import packages  # noqa: E402


def qtbl(entries, count=None, compression=1, sizes=None):
    """A made-up FOTAQ resource file: header, entry table, then the entries' bytes; `sizes`
    overrides the sizes the table gives."""
    head = b'QTBL' + b'CEM10\0' + b'\0\0' + bytes([compression])
    head += struct.pack('>H', len(entries) if count is None else count)
    table, body = b'', b''
    offset = len(head) + 21 * len(entries)
    for i, (name, data) in enumerate(entries):
        size = len(data) if sizes is None else sizes[i]
        table += name.encode().ljust(12, b'\0') + struct.pack('>BII', 1, offset + len(body), size)
        body += data
    return head + table + body


def write(test, data, suffix='.1c'):
    f = tempfile.NamedTemporaryFile(suffix=suffix, delete=False)
    f.write(data)
    f.close()
    test.addCleanup(os.remove, f.name)
    return f.name


class QueenArchive(unittest.TestCase):
    def test_entries_point_at_their_bytes(self):
        path = write(self, qtbl([('020001P2.SB', b'abc'), ('JOE00101.SB', b'defgh'),
                                 ('ROOM1.PCX', b'x')]))
        kind, entries = packages.queen_entries(path)
        self.assertEqual([e[0] for e in entries], ['020001P2.SB', 'JOE00101.SB', 'ROOM1.PCX'])
        with open(path, 'rb') as f:
            raw = f.read()
        self.assertEqual([raw[o:o + n] for _, o, n in entries], [b'abc', b'defgh', b'x'])
        self.assertEqual(kind, 'mp3')

    def test_compression_byte(self):
        for byte, kind in ((0, 'sb'), (1, 'mp3'), (2, 'ogg'), (3, 'flac'), (4, None), (255, None)):
            with self.subTest(byte=byte):
                path = write(self, qtbl([('A.SB', b'a')], compression=byte))
                self.assertEqual(packages.queen_entries(path)[0], kind)

    def test_bad_files_are_refused(self):
        one = qtbl([('A.SB', b'ab'), ('B.SB', b'cd')])
        cases = [('too short for a header', b'QTB'),
                 ('another magic', b'XXXX' + one[4:]),
                 ('table cut short', qtbl([('A.SB', b'a')], count=3)),
                 ('last entry one byte past the end', qtbl([('A.SB', b'ab'), ('B.SB', b'cd')],
                                                           sizes=[2, 3])),
                 ('size near 2^32', qtbl([('A.SB', b'ab')], sizes=[0xFFFFFFFF]))]
        for what, data in cases:
            with self.subTest(what), self.assertRaises(ValueError):
                packages.queen_entries(write(self, data))

    def test_entry_ending_at_the_end_is_read(self):
        path = write(self, qtbl([('A.SB', b'ab'), ('B.SB', b'')]))
        self.assertEqual([n for _, _, n in packages.queen_entries(path)[1]], [2, 0])


def riff(body):
    return b'RIFF' + struct.pack('<I', len(body)) + body


class Catalogue(unittest.TestCase):
    def test_entries(self):
        a, b = riff(b'WAVEfmt a'), riff(b'WAVEfmt bb')
        cases = [('empty', b'', []),
                 ('no RIFF at all', b'\0' * 40, []),
                 ('two entries behind a table', b'\1\2\3\4' + a + b, [a, b]),
                 ('bytes between entries', a + b'pad' + b, [a, b]),
                 ('an entry ending at the last byte', a, [a])]
        for what, data, want in cases:
            with self.subTest(what):
                self.assertEqual(packages.cat_entries(data), want)

    def test_entries_past_the_end_are_refused(self):
        a = riff(b'WAVEfmt a')
        for what, data in (('body one byte short', a[:-1]), ('header cut short', a + b'RIFF\1\0'),
                           ('size near 2^32', b'RIFF' + struct.pack('<I', 0xFFFFFFF7) + b'x')):
            with self.subTest(what), self.assertRaises(ValueError):
                packages.cat_entries(data)


class ClaimFolder(unittest.TestCase):
    MARK = '.tool'

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)

    def tree(self, name, files):
        """A folder holding the given relative files (None: no folder)."""
        root = os.path.join(self.scratch.name, name)
        if files is None:
            return root
        os.makedirs(root)
        for rel in files:
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            open(os.path.join(root, rel), 'w').close()
        return root

    def contents(self, root):
        return sorted(os.path.relpath(os.path.join(d, f), root)
                      for d, _, fs in os.walk(root) for f in fs)

    def test_own_or_empty_folders_are_emptied(self):
        for what, files in (('missing', None), ('empty', []),
                            ('own, with files and folders',
                             [self.MARK, 'index.tsv', 'READY', 'a/b/c.wav'])):
            with self.subTest(what):
                root = self.tree(what, files)
                packages.claim_folder(root, self.MARK)
                self.assertEqual(self.contents(root), [self.MARK])

    def test_foreign_folders_are_refused_and_kept(self):
        for what, files in (('files of another program', ['data/x.wav', 'READY']),
                            ("another program's marker", ['.other']),
                            ('a single file', ['notes.txt'])):
            with self.subTest(what):
                root = self.tree(what, files)
                with self.assertRaises(SystemExit):
                    packages.claim_folder(root, self.MARK)
                self.assertEqual(self.contents(root), sorted(files))

    def test_a_link_inside_is_removed_not_followed(self):
        outside = self.tree('outside', ['keep.wav'])
        root = self.tree('own', [self.MARK])
        os.symlink(outside, os.path.join(root, 'link'))
        packages.claim_folder(root, self.MARK)
        self.assertEqual(os.listdir(root), [self.MARK])
        self.assertEqual(self.contents(outside), ['keep.wav'])


class Split(unittest.TestCase):
    def test_held_out_packages_are_validation(self):
        for package, want in (('a', 'valid'), ('b', 'train'), ('', 'train')):
            with self.subTest(package=package):
                self.assertEqual(packages.split_of(package, {'a'}), want)


if __name__ == '__main__':
    unittest.main()
