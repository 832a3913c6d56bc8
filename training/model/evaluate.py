"""End-to-end evaluation through tarvik (adaptive normaliser, smoothing): tunes the output bias of
"media.am" on the validation split against the fixed 0.5 threshold (by default for the mean speech
F1 with the no-speech false alarms at most 3 %), rewrites "media.am" with it, and prints frame
accuracy, speech F1, false alarms and misses per condition."""
import argparse
import json
import os

import numpy as np
import data
import export
import tarvik_run

CONDITIONS = ["clean", "20", "10", "5", "0", "nospeech"]


def scores(ref, hyp):
    tp = int(np.sum((ref == 1) & (hyp == 1)))
    fp = int(np.sum((ref == 0) & (hyp == 1)))
    fn = int(np.sum((ref == 1) & (hyp == 0)))
    n = len(ref)
    speech, silence = tp + fn, n - tp - fn
    return {
        "frames": n,
        "accuracy": (n - fp - fn) / n if n else float("nan"),
        "f1": 2 * tp / (2 * tp + fp + fn) if speech else float("nan"),
        "false_alarm": fp / silence if silence else float("nan"),
        "miss": fn / speech if speech else float("nan"),
    }


def source(row):
    """Speech source of a recording: the package source of its first real voice, the kind of a
    synthetic one, or none."""
    voice = row["speaker"].split(",")[0]
    if voice.startswith("real:"):
        return voice.split(":")[1]
    return voice.split("-")[0]


def group_of(row, field):
    return source(row) if field == "source" else row[field]


def per_condition(rows, refs, runs, key, field="condition"):
    groups = CONDITIONS if field == "condition" else sorted({group_of(r, field) for r in rows})
    out = {}
    for cond in groups + ["all"]:
        sel = [r for r in rows if cond in ("all", group_of(r, field))]
        if not sel:
            continue
        ref = np.concatenate([refs[r["id"]] for r in sel])
        hyp = np.concatenate([(runs[r["id"]][key][:len(refs[r["id"]])]
                               >= (0.5 if key == "post" else 1)).astype(int) for r in sel])
        out[cond] = scores(ref, hyp)
    return out


def balanced(table):
    return float(np.mean([v["accuracy"] for k, v in table.items() if k != "all"]))


FA_WEIGHT = 2.0  # speech F1 given up for one point less of no-speech false alarms, over the bound


def traded_f1(table, max_fa):
    """Mean speech F1 over the speech conditions, less FA_WEIGHT points for every point of
    no-speech false alarms over `max_fa`."""
    f1 = float(np.mean([table[c]["f1"] for c in CONDITIONS if c != "nospeech"]))
    return f1 - FA_WEIGHT * max(0.0, table["nospeech"]["false_alarm"] - max_fa)


def mean_f1(table, max_fa):
    """traded_f1, but a shift whose no-speech false alarms exceed `max_fa` ranks below every
    shift that keeps them."""
    score = traded_f1(table, max_fa)
    return score if table["nospeech"]["false_alarm"] <= max_fa else score - 1.0


def objective(table, name, max_fa):
    return balanced(table) if name == "accuracy" else mean_f1(table, max_fa)


def summary(table):
    return (f"mean accuracy over conditions {balanced(table):.4f}, mean speech F1 "
            f"{mean_f1(table, 1.0):.4f}, no-speech FA {table['nospeech']['false_alarm']:.4f}, "
            f"all frames {table['all']['accuracy']:.4f}")


def print_tables(result):
    for name, title in (("tarvik", "tarvik decisions (smoothed)"),
                        ("posterior", "raw posterior >= 0.5"),
                        ("noise_family", "tarvik decisions by noise family"),
                        ("source", "tarvik decisions by speech source"),
                        ("synthetic", "synthetic validation (valid-synth), tarvik decisions"),
                        ("synthetic_family", "synthetic validation by noise family")):
        if name not in result:
            continue
        print(f"validation, {title}:")
        print("  group          frames  accuracy  F1      FA      miss")
        for cond, s in result[name].items():
            print(f"  {cond:12} {s['frames']:8d}  {s['accuracy']:.4f}  {s['f1']:.4f}  "
                  f"{s['false_alarm']:.4f}  {s['miss']:.4f}")


def read_refs(split_dir, rows):
    return {r["id"]: np.loadtxt(os.path.join(split_dir, r["id"] + ".ref.tsv"), dtype=np.int8,
                                ndmin=1) for r in rows}


def tables(rows, refs, runs):
    return {"tarvik": per_condition(rows, refs, runs, "speech"),
            "noise_family": per_condition(rows, refs, runs, "speech", "noise_family"),
            "source": per_condition(rows, refs, runs, "speech", "source")}


def synthetic_tables(a):
    """The synthetic validation split scored as it is, when the corpus has one."""
    split_dir = os.path.join(a.corpus, "valid-synth")
    if not os.path.exists(os.path.join(split_dir, "READY")):
        return {}
    rows = data.read_manifest(split_dir)
    refs = read_refs(split_dir, rows)
    runs = tarvik_run.run_frames(a.tool, a.models, split_dir, rows, a.jobs)
    return {"synthetic": per_condition(rows, refs, runs, "speech"),
            "synthetic_family": per_condition(rows, refs, runs, "speech", "noise_family")}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--cache", required=True, help="where evaluation.json is written")
    p.add_argument("--models", required=True)
    p.add_argument("--tool", required=True)
    p.add_argument("--jobs", type=int, default=6)
    p.add_argument("--shifts", default="-3,-2.5,-2,-1.5,-1,-0.5,0,0.5,1")
    p.add_argument("--objective", choices=("accuracy", "f1"), default="f1",
                   help="bias chosen for the mean accuracy over the six conditions, or for the "
                        "mean speech F1 over the five speech conditions")
    p.add_argument("--max-nospeech-fa", type=float, default=0.03,
                   help="with --objective f1: largest accepted no-speech false-alarm share")
    p.add_argument("--score-only", action="store_true",
                   help="score the model pair in --models as it is (no tuning, no re-export)")
    a = p.parse_args()

    split_dir = os.path.join(a.corpus, "valid")
    rows = data.read_manifest(split_dir)
    refs = read_refs(split_dir, rows)
    if a.score_only:
        runs = tarvik_run.run_frames(a.tool, a.models, split_dir, rows, a.jobs)
        print_tables({**tables(rows, refs, runs), **synthetic_tables(a)})
        return
    am = os.path.join(a.models, "media.am")
    model = export.read_am(am)

    def run(shift):
        export.write_am(am, model, shift)
        runs = tarvik_run.run_frames(a.tool, a.models, split_dir, rows, a.jobs)
        for r in rows:  # frames beyond the reference (none expected) are not scored
            n = len(refs[r["id"]])
            if len(runs[r["id"]]["post"]) != n:
                raise SystemExit(f"{r['id']}: {len(runs[r['id']]['post'])} frames, reference {n}")
        return runs

    tried = {}

    def attempt(shift):
        if shift not in tried:
            table = per_condition(rows, refs, run(shift), "speech")
            tried[shift] = objective(table, a.objective, a.max_nospeech_fa)
            print(f"output bias shift {shift:+.2f}: {summary(table)}", flush=True)
        return tried[shift]

    shift = max((float(s) for s in a.shifts.split(",")), key=attempt)
    for step in (0.25, 0.1):
        shift = max([shift - step, shift, shift + step], key=attempt)
    runs = run(shift)
    result = {"bias_shift": shift, **tables(rows, refs, runs),
              "posterior": per_condition(rows, refs, runs, "post"), **synthetic_tables(a)}
    os.makedirs(a.cache, exist_ok=True)
    with open(os.path.join(a.cache, "evaluation.json"), "w") as f:
        json.dump(result, f, indent=1)
    print(f"chosen output bias shift {shift:+.2f} (output bias now "
          f"{float(model.out_bias[0]) + shift:.4f})")
    print_tables(result)


if __name__ == "__main__":
    main()
