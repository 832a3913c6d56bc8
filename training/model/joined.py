"""The model over long recordings: the validation recordings joined into one (each cut to whole
frames, so that its frames keep their reference labels), run by tarvik_frames; prints the speech F1
per condition and the no-speech false alarms of the joined recording beside those of the
recordings run one by one, and the largest forward cell states (the trainer's network read back
from "media.am" over the frames tarvik fed it) within the first 1000 frames and over the whole
joined recording, per block."""
import argparse
import os
import tempfile
import shutil
import wave

import numpy as np
import torch

import data
import evaluate
import export
import tarvik_run


def join(split_dir, rows, path, limit):
    """Writes the recordings, each cut to whole frames, one after another until `limit` frames;
    returns the rows used with their frame counts."""
    used, total = [], 0
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(16000)
        for r in rows:
            with wave.open(os.path.join(split_dir, r["id"] + ".wav")) as w:
                frames = w.getnframes() // 160
                out.writeframes(w.readframes(frames * 160))
            used.append((r, frames))
            total += frames
            if total >= limit:
                break
    return used


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--corpus", required=True)
    p.add_argument("--models", required=True)
    p.add_argument("--tool", required=True, help="tarvik_frames")
    p.add_argument("--minutes", type=float, default=30.0, help="length of the joined recording")
    p.add_argument("--jobs", type=int, default=4)
    a = p.parse_args()
    torch.set_num_threads(1)
    split_dir = os.path.join(a.corpus, "valid")
    rows = data.read_manifest(split_dir)
    work = tempfile.mkdtemp(prefix="tarvik-joined-")
    try:
        used = join(split_dir, rows, os.path.join(work, "joined.wav"), a.minutes * 6000)
        with open(os.path.join(work, "manifest.tsv"), "w") as f:
            f.write("id\n" + "joined\n")
        joined = tarvik_run.run_frames(a.tool, a.models, work, [{"id": "joined"}], 1,
                                       network_input=True)["joined"]
    finally:
        shutil.rmtree(work)
    picked = [r for r, _ in used]
    refs = evaluate.read_refs(split_dir, picked)
    single = tarvik_run.run_frames(a.tool, a.models, split_dir, picked, a.jobs)
    cut, at = {}, 0
    for r, frames in used:
        n = min(frames, len(refs[r["id"]]))
        refs[r["id"]] = refs[r["id"]][:n]
        cut[r["id"]] = {"speech": joined["speech"][at:at + n], "post": joined["post"][at:at + n]}
        at += frames
    long_table = evaluate.per_condition(picked, refs, cut, "speech")
    short_table = evaluate.per_condition(picked, refs, single, "speech")
    print(f"{len(picked)} validation recordings joined into {at / 6000:.1f} min")
    print("  condition   F1 joined  F1 one by one   FA joined  FA one by one")
    for cond in evaluate.CONDITIONS + ["all"]:
        if cond in long_table:
            lt, st = long_table[cond], short_table[cond]
            print(f"  {cond:10} {lt['f1']:9.4f} {st['f1']:14.4f} {lt['false_alarm']:11.4f} "
                  f"{st['false_alarm']:14.4f}")
    model = export.read_am(os.path.join(a.models, "media.am"))
    _, states = model.stream(torch.from_numpy(joined["inputs"]), states=True)
    per_block = states.abs().view(len(states), model.fwd.blocks, model.fwd.per_block)
    first = per_block[:1000].amax((0, 2)).numpy()
    whole = per_block.amax((0, 2)).numpy()
    print(f"largest |forward cell state|: first 1000 frames {first.max():.1f}, whole "
          f"{whole.max():.1f}")
    print("  per block, first 1000 frames: " + " ".join(f"{v:.1f}" for v in first))
    print("  per block, whole recording:   " + " ".join(f"{v:.1f}" for v in whole))


if __name__ == "__main__":
    main()
