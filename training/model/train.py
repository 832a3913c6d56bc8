"""Trains the network on the train split (features from tarvik's front end, normalised as the
run-time normaliser would), keeps the state with the best validation score end to end through
tarvik, and exports "media.am" and "media.norm".

The run-time normaliser moves towards the frames that tarvik itself judges speech, so a false alarm
pulls it towards the noise. Training therefore also feeds the network the very frames tarvik
normalised while running the current model (tarvik_frames --network-input), refreshed after every
epoch: the recordings without speech from --own-nospeech-epoch on, a share of all the others from
--own-epoch on. The same runs give every recording's false alarms, and the recordings (and noise
families) where the model marks most non-speech as speech are drawn more often in the next epoch.

Everything follows epochs and steps: the learning rate falls on a cosine over the steps of
--epochs epochs; --minutes only stops a run early. After every epoch a checkpoint holds the
model, the optimiser, the random state, the epoch, the best state so far and every argument;
--resume continues from one.

Training sequences start the forward layer from zero, while tarvik runs it over a whole recording.
With --carry every batch slot is a stream instead: recordings one after another, cut into
consecutive sequences, the forward layer's output and state carried from each into the next, so
that training (and the penalty on large states) sees the states of long runs."""
import argparse
import ctypes
import math
import os
import shutil
import sys
import tempfile
import time

import numpy as np
import torch

import data
import evaluate
import export
import net as netmod
import tarvik_run


def keep_freed_memory():
    """Makes malloc keep freed memory instead of returning it: the trainer allocates and frees
    tensors of tens of megabytes every step, and mapping them afresh each time (page faults)
    cost more than the arithmetic."""
    try:
        libc = ctypes.CDLL("libc.so.6")
    except OSError:
        return
    libc.mallopt(-4, 0)  # M_MMAP_MAX: no allocation by mmap
    libc.mallopt(-1, 2 ** 30)  # M_TRIM_THRESHOLD: keep up to 1 GiB at the top of the heap


def sequences(recordings, rng, length):
    """Pieces of at most `length` frames (20k + 20) of every normalised recording: a recording that
    fits is one piece, scored on all its frames; a longer one is cut from a random offset within
    the first block into pieces scored on all but their last 20 frames (look-ahead), and a last
    piece that ends at the recording's end, scored on all its frames (the final block runs
    without look-ahead). Returns (recording, start, frames, scored frames) per piece."""
    pieces = []
    for r, (x, _) in enumerate(recordings):
        n = len(x)
        if n <= length:
            pieces.append((r, 0, n, n))
            continue
        step = length - netmod.LOOKAHEAD
        starts = range(int(rng.integers(min(netmod.BLOCK, n - length + 1))), n - length, step)
        pieces += [(r, s, length, step) for s in starts]
        pieces.append((r, n - length, length, length))
    return pieces


def batch_of(recordings, pieces):
    """Inputs (N, 20k + 20, 39), labels and mask (N, 20k) of pieces, each padded by repeating its
    last frame, the padding masked."""
    blocks = max(-(-scored // netmod.BLOCK) for _, _, _, scored in pieces)
    keep = blocks * netmod.BLOCK
    t = keep + netmod.LOOKAHEAD
    xs = np.empty((len(pieces), t, data.FEATURES), np.float32)
    ys = np.zeros((len(pieces), keep), np.float32)
    ms = np.zeros((len(pieces), keep), np.float32)
    for k, (r, s, size, scored) in enumerate(pieces):
        x, y = recordings[r]
        xs[k, :size] = x[s:s + size]
        xs[k, size:] = x[s + size - 1]
        ys[k, :scored] = y[s:s + scored]
        ms[k, :scored] = 1
    return torch.from_numpy(xs), torch.from_numpy(ys), torch.from_numpy(ms)


def stream_steps(frames, a):
    """Steps of a --carry epoch over `frames` frames: sequences per batch slot."""
    return math.ceil(frames / (a.batch * (a.length - netmod.LOOKAHEAD)))


def stream_order(recordings, weights, rng, frames):
    """Recordings (indices) one after another for at least `frames` frames: every recording once
    in random order, again as often as needed, or drawn by `weights` x their frames."""
    sizes = np.array([len(x) for x, _ in recordings])
    p = None if weights is None else weights * sizes / (weights * sizes).sum()
    order, total = [], 0
    while total < frames:
        more = (rng.permutation(len(recordings)) if p is None
                else rng.choice(len(recordings), len(recordings), p=p))
        order += more.tolist()
        total += int(sizes[more].sum())
    return order


def stream_batch(recordings, order, ends, starts, size, scored):
    """Inputs (N, size, 39), labels and mask (N, size - 20) of pieces of the stream that plays
    the recordings of `order` one after another (their frames ending at `ends`), starting at
    `starts` and scored on their first `scored` frames."""
    xs = np.empty((len(starts), size, data.FEATURES), np.float32)
    ys = np.zeros((len(starts), size - netmod.LOOKAHEAD), np.float32)
    ms = np.zeros_like(ys)
    ms[:, :scored] = 1
    for k, at in enumerate(starts):
        done = 0
        i = int(np.searchsorted(ends, at, "right"))
        while done < size:
            x, y = recordings[order[i]]
            offset = at + done - (ends[i] - len(x))
            take = min(size - done, len(x) - offset)
            xs[k, done:done + take] = x[offset:offset + take]
            keep = max(0, min(take, scored - done))
            ys[k, done:done + keep] = y[offset:offset + keep]
            done += take
            i += 1
    return torch.from_numpy(xs), torch.from_numpy(ys), torch.from_numpy(ms)


def simulate(raw, mean, std, rng, own, own_share, nospeech, own_nospeech):
    """Recordings normalised with the drift of the run-time normaliser (reference speech frames,
    a random delay), or as tarvik normalised them running the model: every recording without
    speech when `own_nospeech`, a share `own_share` of the others."""
    out = []
    for i, (x, y) in enumerate(raw):
        if own is not None and ((own_nospeech and nospeech[i]) or rng.random() < own_share):
            out.append((own[i], y))
        else:
            out.append((data.drifted_normalise(x, y == 1, mean, std, int(rng.integers(30, 101))), y))
    return out


def export_pair(model, mean, std, folder):
    export.write_am(os.path.join(folder, "media.am"), model)
    data.write_norm(os.path.join(folder, "media.norm"), mean, std)


def run_model(model, mean, std, tool, split_dir, rows, jobs, network_input=False, shift=0.0):
    """tarvik_frames' results of the current model (exported with the static normalisation and an
    output bias shift) on the recordings of a split."""
    work = tempfile.mkdtemp(prefix="tarvik-model-")
    try:
        export_pair(model, mean, std, work)
        if shift:
            export.write_am(os.path.join(work, "media.am"), model, shift)
        return tarvik_run.run_frames(tool, work, split_dir, rows, jobs, network_input)
    finally:
        shutil.rmtree(work)


def own_runs(model, mean, std, tool, split_dir, rows, raw, jobs):
    """Per recording: the normalised frames tarvik fed its network running the current model, and
    the share of its non-speech frames that tarvik marked speech."""
    runs = run_model(model, mean, std, tool, split_dir, rows, jobs, network_input=True)
    inputs, fa = [], []
    for r, (_, y) in zip(rows, raw):
        run = runs[r["id"]]
        inputs.append(run["inputs"][:len(y)].astype(np.float32))
        silence = y == 0
        fa.append(float(np.mean(run["speech"][:len(y)][silence] == 1)) if silence.any() else 0.0)
    return inputs, np.array(fa)


def hard_weights(rows, fa, strength):
    """Drawing weights of the recordings: 1 + strength x the mean of the recording's own false
    alarms and those of its noise family."""
    families = {}
    for r, v in zip(rows, fa):
        families.setdefault(r["noise_family"], []).append(v)
    family = {k: float(np.mean(v)) for k, v in families.items()}
    w = np.array([1.0 + strength * 0.5 * (v + family[r["noise_family"]])
                  for r, v in zip(rows, fa)])
    return w / w.sum()


def validate(model, mean, std, a, split_dir, rows, refs):
    """The model's best score through tarvik on the validation split over the output bias shifts
    of --select-shifts (mean speech F1, less two points for every point of no-speech false alarms
    over --max-nospeech-fa), with that shift and its per-condition table. Unlike the bias tuning,
    an epoch within the bound at a coarse shift does not outrank every epoch outside it."""
    best = None
    for shift in (float(s) for s in a.select_shifts.split(",")):
        runs = run_model(model, mean, std, a.frames_tool, split_dir, rows, a.jobs, shift=shift)
        table = evaluate.per_condition(rows, refs, runs, "speech")
        score = evaluate.traded_f1(table, a.max_nospeech_fa)
        if best is None or score > best[0]:
            best = (score, shift, table)
    return best


def arguments(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    p.add_argument("--corpus", required=True)
    p.add_argument("--cache", required=True)
    p.add_argument("--tool", required=True, help="tarvik_features")
    p.add_argument("--frames-tool", required=True, help="tarvik_frames")
    p.add_argument("--out", required=True)
    p.add_argument("--checkpoint", help="checkpoint written after every epoch "
                   "(default: checkpoint.pt in --cache)")
    p.add_argument("--resume", help="continue from this checkpoint, with its arguments but for "
                   "those given now (a larger --epochs stretches the learning-rate schedule)")
    p.add_argument("--init", help="start from the network of this checkpoint or model file")
    p.add_argument("--blocks", type=int, default=12)
    p.add_argument("--cells", type=int, default=4)
    p.add_argument("--epochs", type=int, default=24, help="epochs of the learning-rate schedule")
    p.add_argument("--minutes", type=float, default=0.0,
                   help="stop this run after the epoch that passes M minutes (0: no cap)")
    p.add_argument("--length", type=int, default=3020,
                   help="frames per training sequence (20k + 20); longer recordings are cut")
    p.add_argument("--batch", type=int, default=32, help="sequences per step (with --carry: "
                   "streams)")
    p.add_argument("--carry", action=argparse.BooleanOptionalAction, default=True,
                   help="train on streams: each batch slot plays recordings one after another, "
                        "cut into consecutive sequences of --length frames (overlapping by the "
                        "20 look-ahead frames), the forward layer carrying its output and state "
                        "from one sequence into the slot's next; every slot starts from zero at "
                        "the beginning of an epoch; --no-carry: independent sequences from "
                        "zero")
    p.add_argument("--carry-reset", type=float, default=0.05,
                   help="with --carry: chance that a slot's next sequence starts from zero")
    p.add_argument("--lr", type=float, default=5e-3)
    p.add_argument("--noise", type=float, default=0.2,
                   help="standard deviation of Gaussian noise added to the normalised inputs")
    p.add_argument("--weight-decay", type=float, default=0.001)
    p.add_argument("--state-bound", type=float, default=8.0,
                   help="forward cell states beyond +-this are penalised")
    p.add_argument("--state-penalty", type=float, default=0.01,
                   help="weight of the mean squared excess of the states over --state-bound")
    p.add_argument("--own-epoch", type=int, default=4,
                   help="first epoch that feeds a share of all recordings as tarvik normalised them")
    p.add_argument("--own-nospeech-epoch", type=int, default=2,
                   help="first epoch that feeds the recordings without speech as tarvik "
                        "normalised them")
    p.add_argument("--own-share", type=float, default=0.5,
                   help="share of the speech recordings fed as tarvik normalised them")
    p.add_argument("--hard", type=float, default=4.0,
                   help="weight of the false alarms in the drawing of recordings (0: uniform)")
    p.add_argument("--select-shifts", default="-1.5,-0.75,0",
                   help="output bias shifts tried at every validation")
    p.add_argument("--max-nospeech-fa", type=float, default=0.03)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--threads", type=int, default=5)
    p.add_argument("--jobs", type=int, default=6)
    a = p.parse_args(argv)
    if a.resume:
        words = sys.argv[1:] if argv is None else argv
        flags = {k: ("--" + k.replace("_", "-"), "--no-" + k.replace("_", "-")) for k in vars(a)}
        given = {k for k in vars(a) if any(w.split("=")[0] in flags[k] for w in words)}
        saved = torch.load(a.resume)["args"]
        for k, v in saved.items():
            if k not in given and k not in ("corpus", "cache", "tool", "frames_tool", "out",
                                            "checkpoint", "resume", "init"):
                setattr(a, k, v)
    a.checkpoint = a.checkpoint or os.path.join(a.cache, "checkpoint.pt")
    return a


def learning_rate(a, step, steps):
    """Cosine from --lr down to 5 % of it over all steps of --epochs epochs."""
    frac = min(1.0, step / max(1, steps))
    return a.lr * (0.05 + 0.95 * 0.5 * (1 + math.cos(math.pi * frac)))


def main():
    a = arguments()
    keep_freed_memory()
    torch.manual_seed(a.seed)
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
    nospeech = [r["condition"] == "nospeech" for r in rows["train"]]

    mean, std = data.static_norm(raw["train"])
    os.makedirs(a.out, exist_ok=True)
    data.write_norm(os.path.join(a.out, "media.norm"), mean, std)

    model = netmod.Net(a.blocks, a.cells)
    opt = torch.optim.AdamW(model.parameters(), lr=a.lr, weight_decay=a.weight_decay)
    epoch, step, best = 0, 0, {"score": -math.inf, "epoch": 0, "shift": 0.0, "model": None}
    if a.resume:
        saved = torch.load(a.resume)
        model.load_state_dict(saved["model"])
        if saved["optimizer"] is not None:
            opt.load_state_dict(saved["optimizer"])
        epoch, step, best = saved["epoch"], saved["step"], saved["best"]
        rng.bit_generator.state = saved["rng"]
        torch.set_rng_state(saved["torch_rng"])
        print(f"resumed from {a.resume} after epoch {epoch}", flush=True)
        if best["model"] is not None:
            # Scored again: the validation split or the score may have changed since.
            kept = netmod.Net(a.blocks, a.cells)
            kept.load_state_dict(best["model"])
            best["score"], best["shift"], _ = validate(kept, mean, std, a, dirs["valid"],
                                                       rows["valid"], refs)
            print(f"  best so far, epoch {best['epoch']}: score {best['score']:.4f} at shift "
                  f"{best['shift']:+.2f}", flush=True)
    elif a.init:
        init = (export.read_am(a.init) if a.init.endswith(".am")
                else netmod.Net(a.blocks, a.cells))
        if not a.init.endswith(".am"):
            init.load_state_dict(torch.load(a.init)["model"])
        model.load_state_dict({k: v.float() for k, v in init.state_dict().items()})

    steps_per_epoch = math.ceil(len(sequences(raw["train"], rng, a.length)) / a.batch)
    carry_steps = stream_steps(frames, a)
    if a.resume and bool(saved["args"].get("carry")) != a.carry:
        # the same place on the learning-rate schedule in steps of the other kind
        before, after = ((steps_per_epoch, carry_steps) if a.carry
                         else (carry_steps, steps_per_epoch))
        step = round(step * after / before)
    if a.carry:
        steps_per_epoch = carry_steps
    start = time.time()
    while epoch < a.epochs and (a.minutes <= 0 or time.time() - start < a.minutes * 60):
        epoch += 1
        t = time.time()
        own, weights = None, None
        if epoch >= min(a.own_epoch, a.own_nospeech_epoch) or (a.hard > 0 and epoch > 1):
            own, fa = own_runs(model, mean, std, a.frames_tool, dirs["train"], rows["train"],
                               raw["train"], a.jobs)
            weights = hard_weights(rows["train"], fa, a.hard) if a.hard > 0 else None
            print(f"  tarvik on the train split: no-speech FA {np.mean(fa[nospeech]):.3f}, "
                  f"{time.time() - t:.0f} s", flush=True)
        recordings = simulate(raw["train"], mean, std, rng, own,
                              a.own_share if epoch >= a.own_epoch else 0.0, nospeech,
                              epoch >= a.own_nospeech_epoch)
        t = time.time()
        epoch_pass = train_streams if a.carry else train_epoch
        loss, step, peak = epoch_pass(model, opt, a, recordings, weights, rng, step,
                                      steps_per_epoch * a.epochs)
        took = time.time() - t
        score, shift, table = validate(model, mean, std, a, dirs["valid"], rows["valid"], refs)
        if score > best["score"]:
            best = {"score": score, "epoch": epoch, "shift": shift,
                    "model": {k: v.clone() for k, v in model.state_dict().items()}}
        conds = ", ".join(f"{c} {table[c]['f1']:.3f}" for c in evaluate.CONDITIONS[:-1])
        print(f"epoch {epoch}: train loss {loss:.4f}, largest forward state {peak:.1f}, "
              f"{frames / took:.0f} frames/s; valid through tarvik at shift {shift:+.2f}: "
              f"score {score:.4f} (F1 {conds}; no-speech FA "
              f"{table['nospeech']['false_alarm']:.3f}), {time.time() - start:.0f} s", flush=True)
        save_checkpoint(a, model, opt, epoch, step, best, rng)

    model.load_state_dict(best["model"])
    count = export.write_am(os.path.join(a.out, "media.am"), model)
    print(f"best epoch {best['epoch']} (valid score through tarvik {best['score']:.4f} at shift "
          f"{best['shift']:+.2f}); exported {count} weights; this run "
          f"{time.time() - start:.0f} s, {epoch} of {a.epochs} epochs done", flush=True)


def save_checkpoint(a, model, opt, epoch, step, best, rng):
    state = {"args": {k: v for k, v in vars(a).items() if k != "resume"}, "epoch": epoch,
             "step": step, "model": model.state_dict(), "optimizer": opt.state_dict(),
             "best": best, "rng": rng.bit_generator.state, "torch_rng": torch.get_rng_state()}
    os.makedirs(os.path.dirname(os.path.abspath(a.checkpoint)), exist_ok=True)
    torch.save(state, a.checkpoint + ".tmp")
    os.replace(a.checkpoint + ".tmp", a.checkpoint)


def train_epoch(model, opt, a, recordings, weights, rng, step, steps):
    """One pass over the pieces of the recordings (drawn by `weights` when given, each once
    otherwise) in batches of similar lengths; the learning rate on its cosine over all steps.
    Returns the mean loss, the step count and the largest forward cell state seen."""
    pieces = sequences(recordings, rng, a.length)
    if weights is not None:
        per_piece = np.array([weights[p[0]] for p in pieces])
        pieces = [pieces[i] for i in rng.choice(len(pieces), len(pieces),
                                                p=per_piece / per_piece.sum())]
    else:
        pieces = [pieces[i] for i in rng.permutation(len(pieces))]
    # batches of similar lengths, in random order
    pieces.sort(key=lambda p: p[2] + rng.random())
    batches = [pieces[i:i + a.batch] for i in range(0, len(pieces), a.batch)]
    total, count, peak = 0.0, 0, 0.0
    for k in rng.permutation(len(batches)):
        x, y, m = batch_of(recordings, batches[k])
        loss, states, _ = train_step(model, opt, a, x, y, m, None, step, steps)
        step += 1
        total += loss * len(batches[k])
        count += len(batches[k])
        peak = max(peak, float((states.abs() * m[..., None]).max()))
    return total / count, step, peak


def train_streams(model, opt, a, recordings, weights, rng, step, steps):
    """One pass of --batch streams over as many frames as the recordings hold: the recordings
    (drawn by `weights` when given, each once otherwise) played one after another and dealt
    out to the slots in equal spans, each span cut into consecutive sequences of --length
    frames. The forward layer carries its output and state at the end of a sequence's scored
    frames into the slot's next sequence, all slots starting from zero, each later sequence
    from zero with chance --carry-reset. Returns what train_epoch does."""
    scored = a.length - netmod.LOOKAHEAD
    per_slot = stream_steps(sum(len(x) for x, _ in recordings), a)
    span = per_slot * scored
    order = stream_order(recordings, weights, rng, a.batch * span + netmod.LOOKAHEAD)
    ends = np.cumsum([len(recordings[r][0]) for r in order])
    total, peak, start = 0.0, 0.0, None
    for j in range(per_slot):
        starts = [k * span + j * scored for k in range(a.batch)]
        x, y, m = stream_batch(recordings, order, ends, starts, a.length, scored)
        loss, states, end = train_step(model, opt, a, x, y, m, start, step, steps)
        keep = torch.from_numpy(rng.random(a.batch) >= a.carry_reset).to(end[1].dtype)[:, None]
        start = (end[0] * keep, end[1] * keep)
        step += 1
        total += loss
        peak = max(peak, float(states.abs().max()))
    return total / per_slot, step, peak


def train_step(model, opt, a, x, y, m, start, step, steps):
    """One optimiser step on inputs x, labels y and mask m, the forward layer from `start`;
    returns the loss, the forward cell states and the forward layer's last output and state."""
    for g in opt.param_groups:
        g["lr"] = learning_rate(a, step, steps)
    if a.noise > 0:
        x = x + a.noise * torch.randn_like(x)
    z, states, end = model(x, start)
    loss = (torch.nn.functional.binary_cross_entropy_with_logits(z, y, reduction="none")
            * m).sum() / m.sum()
    excess = torch.relu(states.abs() - a.state_bound)
    penalty = (excess * excess * m[..., None]).sum() / (m.sum() * states.shape[-1])
    opt.zero_grad()
    (loss + a.state_penalty * penalty).backward()
    torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
    opt.step()
    return loss.item(), states, end


if __name__ == "__main__":
    main()
