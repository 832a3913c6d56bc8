"""Agreement of the exported model with the trainer: runs tarvik on validation recordings and
compares its per-frame posteriors with the trainer's own forward pass (the network read back
from "media.am") over the very frames tarvik fed its network (same block schedule). Exact
activations differ from tarvik's tables by their quantisation; with table-emulating activations
the two must agree to rounding."""
import argparse
import os
import sys

import numpy as np
import torch

import data
import export
import tarvik_run


def pick(rows, count):
    """Up to `count` recordings, taken round-robin over the conditions."""
    by_cond = {}
    for r in rows:
        by_cond.setdefault(r["condition"], []).append(r)
    picked, lists = [], list(by_cond.values())
    while len(picked) < count and any(lists):
        for lst in lists:
            if lst and len(picked) < count:
                picked.append(lst.pop(0))
    return picked


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--models", required=True)
    p.add_argument("--tool", required=True)
    p.add_argument("--count", type=int, default=24)
    p.add_argument("--jobs", type=int, default=6)
    a = p.parse_args()
    torch.set_num_threads(4)

    split_dir = os.path.join(a.corpus, "valid")
    rows = pick(data.read_manifest(split_dir), a.count)
    runs = tarvik_run.run_frames(a.tool, a.models, split_dir, rows, a.jobs, network_input=True)
    model = export.read_am(os.path.join(a.models, "media.am"))
    exact_diffs, table_diffs = [], []
    for r in rows:
        run = runs[r["id"]]
        x = torch.from_numpy(run["inputs"])
        if len(x) != len(run["post"]):
            sys.exit(f"{r['id']}: {len(x)} frames fed, {len(run['post'])} posteriors")
        exact_diffs.append(np.abs(model.stream(x).numpy() - run["post"]))
        table_diffs.append(np.abs(model.stream(x, tables=True).numpy() - run["post"]))
    exact = np.concatenate(exact_diffs)
    table = np.concatenate(table_diffs)
    print(f"agreement over {len(rows)} recordings, {len(exact)} frames: "
          f"exact activations mean |diff| {exact.mean():.2e}, max {exact.max():.2e}; "
          f"table activations mean {table.mean():.2e}, max {table.max():.2e}")
    if table.max() > 1e-6 or exact.mean() > 1e-4 or exact.max() > 2e-2:
        sys.exit("ERROR: the exported model does not agree with the trainer")
    print("agreement: ok")


if __name__ == "__main__":
    main()
