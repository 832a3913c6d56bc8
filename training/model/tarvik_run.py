"""Running build/tools/tarvik_frames (tarvik's own pipeline) over recordings, in parallel."""
import os
import shutil
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import data


def run_frames(tool, models_dir, split_dir, rows, jobs, network_input=False):
    """Per recording id: (speech_post, is_speech) arrays, and with network_input also the
    normalised frames the network was fed."""
    work = tempfile.mkdtemp(prefix="tarvik-frames-")
    for name in ("media.am", "media.norm"):
        shutil.copy(os.path.join(models_dir, name), work)

    def one(row):
        wav = os.path.abspath(os.path.join(split_dir, row["id"] + ".wav"))
        tsv = os.path.join(work, row["id"] + ".tsv")
        f64 = os.path.join(work, row["id"] + ".f64")
        args = [os.path.abspath(tool)] + (["--network-input", f64] if network_input else [])
        # The tool's console lines are on standard error: shown only when it fails.
        done = subprocess.run(args + [wav, tsv], cwd=work, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"{tool} failed on {wav}: {done.stderr.strip()}")
        table = np.loadtxt(tsv, skiprows=1, ndmin=2)
        result = {"post": table[:, 1], "speech": table[:, 2].astype(np.int8)}
        if network_input:
            result["inputs"] = np.fromfile(f64, dtype="<f8").reshape(-1, data.FEATURES)
        return row["id"], result

    try:
        with ThreadPoolExecutor(jobs) as pool:
            return dict(pool.map(one, rows))
    finally:
        shutil.rmtree(work)
