"""Trainer throughput: frames per second of one training step (forward and backward pass over a
batch of random inputs) per topology, on the threads given, with the time split between the
forward pass, the backward pass and the optimiser step."""
import argparse
import time

import torch

import net as netmod
import train


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--topologies", default="12x4,16x4,20x4", help="blocks x cells, comma-separated")
    p.add_argument("--batch", type=int, default=32)
    p.add_argument("--length", type=int, default=3020)
    p.add_argument("--threads", type=int, default=1)
    p.add_argument("--repeats", type=int, default=3)
    a = p.parse_args()
    train.keep_freed_memory()
    torch.set_num_threads(a.threads)
    x = torch.randn(a.batch, a.length, netmod.INPUTS)
    frames = a.batch * (a.length - netmod.LOOKAHEAD)
    for topology in a.topologies.split(","):
        blocks, cells = (int(v) for v in topology.split("x"))
        model = netmod.Net(blocks, cells)
        opt = torch.optim.AdamW(model.parameters())
        runs = []
        for _ in range(a.repeats + 1):  # the first run warms the scripted loops
            t0 = time.process_time()
            z, states, _ = model(x)
            t1 = time.process_time()
            (z.sum() + states.sum()).backward()
            t2 = time.process_time()
            opt.step()
            opt.zero_grad()
            runs.append((t0, t1, t2, time.process_time()))
        best = min(runs[1:], key=lambda r: r[3] - r[0])
        t0, t1, t2, t3 = best
        print(f"{topology}: {frames / (t3 - t0):.0f} frames/s (batch {a.batch} x {a.length} "
              f"frames, {a.threads} thread(s), CPU time): forward {t1 - t0:.2f} s, backward "
              f"{t2 - t1:.2f} s, optimiser {t3 - t2:.3f} s")


if __name__ == "__main__":
    main()
