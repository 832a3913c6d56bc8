"""Speech reference: energy-based intervals of clean speech, frame labels and TextGrids."""
import numpy as np

HOP = 160  # 10 ms at 16 kHz
WIN = 320  # 20 ms energy window
CENTRE = 200  # frame j is labelled by the sample at HOP * j + CENTRE

LOUD_PERCENTILE = 95  # the loud level: this percentile of the frame levels
FLOOR_PERCENTILE = 10  # the noise floor: this percentile
REL_DB = 35.0  # speech lies within this many dB of the loud level
FLOOR_MARGIN_DB = 12.0  # and this far above the recording's own noise floor,
FLOOR_HEADROOM_DB = 15.0  # a margin capped at this many dB below the loud level,
ABSOLUTE_FLOOR_DB = -75.0  # and never below this level (dBFS)
PRE_FRAMES = 2  # hangover before a speech run
POST_FRAMES = 4  # hangover after a speech run
MIN_GAP = 20  # frames; shorter pauses are bridged
MIN_RUN = 4  # frames; shorter isolated runs (clicks) are dropped


def frame_db(x, win=WIN):
    """Level in dB of the window of `win` samples (a multiple of HOP) that starts at every HOP:
    ceil(n / HOP) windows, at least one; a window running past the end is the mean power of the
    samples it holds."""
    n = len(x)
    k = max(1, -(-n // HOP))
    squares = np.zeros(k * HOP + win)
    squares[:n] = np.asarray(x, dtype=np.float64) ** 2
    blocks = np.sum(squares.reshape(-1, HOP), axis=1)
    e = sum(blocks[i:i + k] for i in range(win // HOP))
    starts = np.arange(k) * HOP
    return 10.0 * np.log10(e / np.maximum(np.minimum(starts + win, n) - starts, 1) + 1e-12)


def runs(mask):
    """Returns [start, end) index pairs of the True runs in mask."""
    m = np.concatenate(([False], mask, [False])).astype(np.int8)
    d = np.diff(m)
    return list(zip(np.flatnonzero(d == 1), np.flatnonzero(d == -1)))


def speech_intervals(x, tail_db=None):
    """Speech intervals [start, end) in samples of one clean utterance.

    Frames above max(loud - REL_DB, min(floor + FLOOR_MARGIN_DB, loud - FLOOR_HEADROOM_DB),
    ABSOLUTE_FLOOR_DB) are speech; pauses shorter than MIN_GAP frames are bridged, isolated runs
    shorter than MIN_RUN are dropped, and each run is widened by a short hangover. With
    `tail_db`, each run ends at its last frame within tail_db of the loud level (a recording
    whose lines end in long reverberation tails).
    """
    db = frame_db(x)
    loud = np.percentile(db, LOUD_PERCENTILE)
    floor = np.percentile(db, FLOOR_PERCENTILE)
    thr = max(loud - REL_DB, min(floor + FLOOR_MARGIN_DB, loud - FLOOR_HEADROOM_DB),
              ABSOLUTE_FLOOR_DB)
    mask = db > thr
    rs = runs(mask)
    merged = []
    for a, b in rs:
        if merged and a - merged[-1][1] < MIN_GAP:
            merged[-1][1] = b
        else:
            merged.append([a, b])
    n = len(x)
    out = []
    for a, b in merged:
        if b - a < MIN_RUN:
            continue
        if tail_db is not None:
            b = a + 1 + int(np.flatnonzero(db[a:b] > loud - tail_db).max(initial=0))
        s = max(0, (a - PRE_FRAMES) * HOP)
        e = min(n, (b - 1 + POST_FRAMES) * HOP + WIN)
        if out and s <= out[-1][1]:
            out[-1][1] = e
        else:
            out.append([s, e])
    return [(int(s), int(e)) for s, e in out]


def frame_labels(intervals, n_samples):
    """One 0/1 label per frame, floor(n / HOP) frames, from the sample at each frame's centre."""
    mask = np.zeros(n_samples + WIN, dtype=bool)
    for s, e in intervals:
        mask[s:e] = True
    k = n_samples // HOP
    return mask[np.arange(k) * HOP + CENTRE].astype(np.int8)


def write_ref_tsv(path, labels):
    with open(path, 'w') as f:
        f.write(''.join('1\n' if v else '0\n' for v in labels))


def write_textgrid(path, labels):
    """The frame labels as "spc"/"sil" intervals, frame j spanning [j, j + 1) * 10 ms."""
    k = len(labels)
    total = k * HOP / 16000.0
    segs = []
    j = 0
    while j < k:
        e = j
        while e < k and labels[e] == labels[j]:
            e += 1
        segs.append((j * HOP / 16000.0, e * HOP / 16000.0, 'spc' if labels[j] else 'sil'))
        j = e
    lines = ['File type = "ooTextFile"', 'Object class = "TextGrid"', '',
             'xmin = 0', 'xmax = %.2f' % total, 'tiers? <exists>', 'size = 1', 'item []:',
             '    item [1]:', '        class = "IntervalTier"', '        name = "ref"',
             '        xmin = 0', '        xmax = %.2f' % total,
             '        intervals: size = %d' % len(segs)]
    for i, (a, b, t) in enumerate(segs, 1):
        lines += ['        intervals [%d]:' % i, '            xmin = %.2f' % a,
                  '            xmax = %.2f' % b, '            text = "%s"' % t]
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')
