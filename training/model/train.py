"""Trains the network on the train split (features from tarvik's front end, normalised as the
run-time normaliser would), keeps the state with the best validation score end to end through
tarvik, and exports "media.am" and "media.norm".

The run-time normaliser moves towards the frames that tarvik itself judges speech, so a false alarm
pulls it towards the noise. After a first phase that drifts the normalisation on the reference
speech frames, training also feeds the network the very frames tarvik normalised while running the
current model (tarvik_frames --network-input), refreshed every few epochs: the network learns to
reject noise after the normaliser has moved towards it."""
import argparse
import math
import os
import random
import shutil
import tempfile
import time

import numpy as np
import torch

import data
import evaluate
import export
import net as netmod
import tarvik_run

CHUNK_BLOCKS = 25
CHUNK = CHUNK_BLOCKS * netmod.BLOCK + netmod.LOOKAHEAD


def chunks(recordings, rng):
    """Cuts every normalised recording into chunks of CHUNK frames from a random offset; the last
    chunk ends at the recording's end; shorter recordings are padded and masked."""
    xs, ys, ms = [], [], []
    for x, y in recordings:
        n = len(x)
        if n < CHUNK:
            pad = CHUNK - n
            xs.append(np.concatenate([x, np.repeat(x[-1:], pad, 0)]))
            ys.append(np.concatenate([y, np.zeros(pad, y.dtype)]))
            ms.append(np.concatenate([np.ones(n), np.zeros(pad)]))
            continue
        starts = list(range(int(rng.integers(netmod.BLOCK)), n - CHUNK + 1, CHUNK - netmod.LOOKAHEAD))
        if starts[-1] != n - CHUNK:
            starts.append(n - CHUNK)
        for s in starts:
            xs.append(x[s:s + CHUNK])
            ys.append(y[s:s + CHUNK])
            ms.append(np.ones(CHUNK))
    keep = CHUNK - netmod.LOOKAHEAD
    return (torch.from_numpy(np.stack(xs)).float(),
            torch.from_numpy(np.stack(ys)[:, :keep]).float(),
            torch.from_numpy(np.stack(ms)[:, :keep]).float())


def simulate(raw, mean, std, rng, own=None, own_share=0.0):
    """Recordings normalised with the drift of the run-time normaliser (reference speech frames,
    a random delay), or, for a share of them, as tarvik normalised them running the model."""
    out = []
    for i, (x, y) in enumerate(raw):
        if own is not None and i < len(own) and rng.random() < own_share:
            out.append((own[i], y))
        else:
            out.append((data.drifted_normalise(x, y == 1, mean, std, int(rng.integers(30, 101))), y))
    return out


def export_pair(model, mean, std, folder):
    export.write_am(os.path.join(folder, "media.am"), model)
    data.write_norm(os.path.join(folder, "media.norm"), mean, std)


def run_model(model, mean, std, tool, split_dir, rows, jobs, network_input=False):
    """tarvik_frames' results of the current model (exported with the static normalisation) on
    the recordings of a split."""
    work = tempfile.mkdtemp(prefix="tarvik-model-")
    try:
        export_pair(model, mean, std, work)
        return tarvik_run.run_frames(tool, work, split_dir, rows, jobs, network_input)
    finally:
        shutil.rmtree(work)


def own_inputs(model, mean, std, tool, split_dir, rows, lengths, jobs):
    """Per recording: the normalised frames tarvik fed its network running the current model."""
    runs = run_model(model, mean, std, tool, split_dir, rows, jobs, network_input=True)
    return [runs[r["id"]]["inputs"][:n].astype(np.float32) for r, n in zip(rows, lengths)]


def end_to_end(model, mean, std, tool, split_dir, rows, refs, jobs):
    """Scores of the current model through tarvik on a split: the mean accuracy over the
    conditions (the no-speech one included) and the per-condition table."""
    runs = run_model(model, mean, std, tool, split_dir, rows, jobs)
    table = evaluate.per_condition(rows, refs, runs, "speech")
    return evaluate.balanced(table), table


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--cache", required=True)
    p.add_argument("--tool", required=True, help="tarvik_features")
    p.add_argument("--frames-tool", required=True, help="tarvik_frames")
    p.add_argument("--out", required=True)
    p.add_argument("--blocks", type=int, default=8)
    p.add_argument("--cells", type=int, default=4)
    p.add_argument("--minutes", type=float, default=35.0)
    p.add_argument("--max-epochs", type=int, default=1000)
    p.add_argument("--batch", type=int, default=64)
    p.add_argument("--lr", type=float, default=5e-3)
    p.add_argument("--noise", type=float, default=0.0,
                   help="standard deviation of Gaussian noise added to the normalised inputs")
    p.add_argument("--weight-decay", type=float, default=0.0)
    p.add_argument("--init", help="start from this saved model instead of random weights")
    p.add_argument("--own-start", type=float, default=0.3,
                   help="share of the budget after which tarvik's own normalisation is fed too")
    p.add_argument("--own-share", type=float, default=0.5,
                   help="share of the recordings fed as tarvik normalised them")
    p.add_argument("--own-every", type=int, default=2,
                   help="epochs between two refreshes of tarvik's own normalisation")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--threads", type=int, default=4)
    p.add_argument("--jobs", type=int, default=6)
    a = p.parse_args()

    torch.manual_seed(a.seed)
    random.seed(a.seed)
    rng = np.random.default_rng(a.seed)
    torch.set_num_threads(a.threads)

    t0 = time.time()
    raw, rows, dirs = {}, {}, {}
    for split in ("train", "valid"):
        dirs[split] = os.path.join(a.corpus, split)
        cdir = data.features_dir(a.cache, a.corpus, split)
        rows[split] = data.extract(a.tool, dirs[split], cdir, a.jobs)
        raw[split] = [data.load(dirs[split], cdir, r) for r in rows[split]]
    frames = sum(len(x) for x, _ in raw["train"])
    print(f"features: {len(raw['train'])} train recordings ({frames / 360000:.2f} h), "
          f"{len(raw['valid'])} valid; {time.time() - t0:.0f} s", flush=True)
    refs = {r["id"]: y for r, (_, y) in zip(rows["valid"], raw["valid"])}
    lengths = [len(y) for _, y in raw["train"]]

    mean, std = data.static_norm(raw["train"])
    os.makedirs(a.out, exist_ok=True)
    data.write_norm(os.path.join(a.out, "media.norm"), mean, std)

    model = netmod.Net(a.blocks, a.cells)
    if a.init:
        model.load_state_dict(torch.load(a.init)["state"])
    opt = torch.optim.AdamW(model.parameters(), lr=a.lr, weight_decay=a.weight_decay)
    budget = a.minutes * 60
    start = time.time()
    best = (-math.inf, None, 0)
    epoch = 0
    own, own_epoch = None, 0
    while epoch < a.max_epochs and time.time() - start < budget:
        epoch += 1
        if time.time() - start >= a.own_start * budget and (own is None or
                                                            epoch - own_epoch >= a.own_every):
            t = time.time()
            own = own_inputs(model, mean, std, a.frames_tool, dirs["train"], rows["train"],
                             lengths, a.jobs)
            own_epoch = epoch
            print(f"  tarvik's own normalisation of the train split: {time.time() - t:.0f} s",
                  flush=True)
        x, y, m = chunks(simulate(raw["train"], mean, std, rng, own, a.own_share), rng)
        total = train_epoch(model, opt, a, x, y, m, rng, start, budget)
        score, table = end_to_end(model, mean, std, a.frames_tool, dirs["valid"], rows["valid"],
                                  refs, a.jobs)
        if score > best[0]:
            best = (score, {k: v.clone() for k, v in model.state_dict().items()}, epoch)
        conds = ", ".join(f"{c} {table[c]['accuracy']:.3f}" for c in evaluate.CONDITIONS
                          if c in table)
        print(f"epoch {epoch}: train loss {total / len(x):.4f}, valid through tarvik: mean "
              f"accuracy {score:.4f} ({conds}), {time.time() - start:.0f} s", flush=True)

    model.load_state_dict(best[1])
    torch.save({"blocks": a.blocks, "cells": a.cells, "state": best[1]},
               os.path.join(a.cache, "model.pt"))
    count = export.write_am(os.path.join(a.out, "media.am"), model)
    print(f"best epoch {best[2]} (valid mean accuracy through tarvik {best[0]:.4f}); exported "
          f"{count} weights; training {time.time() - start:.0f} s", flush=True)


def train_epoch(model, opt, a, x, y, m, rng, start, budget):
    """One pass over the chunks in random order, the learning rate on a cosine over the budget;
    returns the summed loss."""
    order = torch.from_numpy(rng.permutation(len(x)))
    total = 0.0
    for i in range(0, len(x), a.batch):
        frac = min(1.0, (time.time() - start) / budget)
        for g in opt.param_groups:
            g["lr"] = a.lr * (0.05 + 0.95 * 0.5 * (1 + math.cos(math.pi * frac)))
        sel = order[i:i + a.batch]
        inputs = x[sel]
        if a.noise > 0:
            inputs = inputs + a.noise * torch.randn_like(inputs)
        z = model(inputs)
        loss = (torch.nn.functional.binary_cross_entropy_with_logits(z, y[sel], reduction="none")
                * m[sel]).sum() / m[sel].sum()
        opt.zero_grad()
        loss.backward()
        torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
        opt.step()
        total += loss.item() * len(sel)
    return total


if __name__ == "__main__":
    main()
