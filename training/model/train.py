"""Trains the network on the train split (features from tarvik's front end, normalised as the
run-time normaliser would), keeps the state with the best validation frame accuracy, and exports
"media.am" and "media.norm"."""
import argparse
import math
import os
import random
import time

import numpy as np
import torch

import data
import export
import net as netmod

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


def simulate(raw, mean, std, rng):
    """Recordings normalised with the drift of the run-time normaliser (reference speech frames,
    a random delay)."""
    return [(data.drifted_normalise(x, y == 1, mean, std, int(rng.integers(30, 101))), y)
            for x, y in raw]


def evaluate(model, batches):
    model.eval()
    loss = correct = total = 0.0
    with torch.no_grad():
        for x, y, m in batches:
            z = model(x)
            loss += (torch.nn.functional.binary_cross_entropy_with_logits(z, y, reduction="none") * m).sum().item()
            correct += (((z >= 0) == (y >= 0.5)).float() * m).sum().item()
            total += m.sum().item()
    model.train()
    return loss / total, correct / total


def split_batches(x, y, m, size):
    return [(x[i:i + size], y[i:i + size], m[i:i + size]) for i in range(0, len(x), size)]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--cache", required=True)
    p.add_argument("--tool", required=True)
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
    p.add_argument("--repeat-families", default="",
                   help="noise families whose recordings are used twice per epoch (comma-separated)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--threads", type=int, default=4)
    p.add_argument("--jobs", type=int, default=6)
    a = p.parse_args()

    torch.manual_seed(a.seed)
    random.seed(a.seed)
    rng = np.random.default_rng(a.seed)
    torch.set_num_threads(a.threads)

    t0 = time.time()
    raw = {}
    for split in ("train", "valid"):
        sdir = os.path.join(a.corpus, split)
        cdir = data.features_dir(a.cache, a.corpus, split)
        rows = data.extract(a.tool, sdir, cdir, a.jobs)
        raw[split] = [data.load(sdir, cdir, r) for r in rows]
        if split == "train":
            families = a.repeat_families.split(",")
            repeated = [data.load(sdir, cdir, r) for r in rows if r["noise_family"] in families]
    frames = sum(len(x) for x, _ in raw["train"])
    print(f"features: {len(raw['train'])} train recordings ({frames / 360000:.2f} h), "
          f"{len(raw['valid'])} valid; {time.time() - t0:.0f} s", flush=True)

    mean, std = data.static_norm(raw["train"])
    os.makedirs(a.out, exist_ok=True)
    data.write_norm(os.path.join(a.out, "media.norm"), mean, std)
    raw["train"] += repeated
    valid = split_batches(*chunks(simulate(raw["valid"], mean, std, rng), rng), 256)

    model = netmod.Net(a.blocks, a.cells)
    if a.init:
        model.load_state_dict(torch.load(a.init)["state"])
    opt = torch.optim.AdamW(model.parameters(), lr=a.lr, weight_decay=a.weight_decay)
    budget = a.minutes * 60
    start = time.time()
    best = (math.inf, None, 0)
    epoch = 0
    while epoch < a.max_epochs and time.time() - start < budget:
        epoch += 1
        x, y, m = chunks(simulate(raw["train"], mean, std, rng), rng)
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
        vloss, vacc = evaluate(model, valid)
        if -vacc < best[0]:
            best = (-vacc, {k: v.clone() for k, v in model.state_dict().items()}, epoch)
        print(f"epoch {epoch}: train loss {total / len(x):.4f}, valid loss {vloss:.4f}, "
              f"valid frame accuracy {vacc:.4f}, {time.time() - start:.0f} s", flush=True)

    model.load_state_dict(best[1])
    torch.save({"blocks": a.blocks, "cells": a.cells, "state": best[1]},
               os.path.join(a.cache, "model.pt"))
    count = export.write_am(os.path.join(a.out, "media.am"), model)
    print(f"best epoch {best[2]} (valid frame accuracy {-best[0]:.4f}); exported {count} weights; "
          f"training {time.time() - start:.0f} s", flush=True)


if __name__ == "__main__":
    main()
