#!/usr/bin/python3
"""Scores the systems' 10 ms decisions against the reference and writes the results table.

Usage: score.py <split-dir> <out-dir> <results.md> <system>... [--note TEXT]...

Reads <split-dir>/<id>.ref.tsv and <out-dir>/<system>/<id>.hyp, pools the frames of each condition
and writes, per condition and system: frame accuracy, speech F1, false-alarm rate (share of
non-speech frames called speech) and miss rate (share of speech frames called non-speech); the
nospeech condition has no speech, so only its false-alarm rate is given. Speed comes from
<out-dir>/<system>.speed.tsv (the runs per recording) and <out-dir>/long/<system>.speed.tsv (one
long recording, when present): audio seconds over processing seconds.
"""

import os
import sys

import numpy as np

CONDITION_ORDER = ["clean", "20", "10", "5", "0", "nospeech"]
NAMES = {"tarvik": "tarvik", "webrtc": "WebRTC VAD", "silero": "Silero VAD", "ten": "TEN VAD"}


def read_tsv(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f if line.strip()]


def read_labels(path):
    with open(path) as f:
        values = [line.strip() for line in f if line.strip()]
    if any(v not in ("0", "1") for v in values):
        raise SystemExit(f"{path}: labels other than 0 and 1")
    return np.array(values, dtype=np.int8)


def counts(ref, hyp):
    """True positives, false positives, false negatives and true negatives of speech."""
    return np.array([np.sum((ref == 1) & (hyp == 1)), np.sum((ref == 0) & (hyp == 1)),
                     np.sum((ref == 1) & (hyp == 0)), np.sum((ref == 0) & (hyp == 0))],
                    dtype=np.int64)


def metrics(c, speech_condition):
    tp, fp, fn, tn = (int(v) for v in c)
    frames = tp + fp + fn + tn
    m = {"frames": frames, "accuracy": (tp + tn) / frames if frames else None,
         "fa": fp / (fp + tn) if fp + tn else None, "f1": None, "miss": None}
    if speech_condition and tp + fn:
        m["f1"] = 2 * tp / (2 * tp + fp + fn) if tp + fp + fn else None
        m["miss"] = fn / (tp + fn) if tp + fn else None
    return m


def label(c):
    return c if c in ("clean", "all", "nospeech") else f"{c} dB"


def condition_key(c):
    return (CONDITION_ORDER.index(c), "") if c in CONDITION_ORDER else (len(CONDITION_ORDER), c)


def source(row):
    """Speech source of a recording: the package source of its first real voice ("real:<source>:
    <speaker>"), the kind of a synthetic one (espeak, flite, ...), or none."""
    voice = row.get("speaker", "none").split(",")[0]
    return voice.split(":")[1] if voice.startswith("real:") else voice.split("-")[0]


GROUPS = {"condition": lambda r: r["condition"], "noise family": lambda r: r.get("noise_family", "-"),
          "speech source": source}


def pooled_counts(split, out, systems, manifest, group=GROUPS["condition"]):
    """Per system: group -> summed counts, with "all" over every recording."""
    table = {s: {} for s in systems}
    for row in manifest:
        ref = read_labels(os.path.join(split, row["id"] + ".ref.tsv"))
        for s in systems:
            hyp = read_labels(os.path.join(out, s, row["id"] + ".hyp"))
            if hyp.size != ref.size:
                raise SystemExit(f"{s}/{row['id']}: {hyp.size} frames, reference {ref.size}")
            c = counts(ref, hyp)
            for key in (group(row), "all"):
                table[s][key] = table[s].get(key, 0) + c
    return table


def speed(path):
    if not os.path.exists(path):
        return None
    rows = read_tsv(path)
    audio = sum(float(r["audio_seconds"]) for r in rows)
    busy = sum(float(r["processing_seconds"]) for r in rows)
    return audio, busy


def pct(v):
    return "–" if v is None else f"{100 * v:.2f}"


def f1(v):
    return "–" if v is None else f"{v:.4f}"


def main():
    args, notes = [], []
    argv = sys.argv[1:]
    while argv:
        a = argv.pop(0)
        if a == "--note" and argv:
            notes.append(argv.pop(0))
        else:
            args.append(a)
    if len(args) < 4:
        sys.exit(__doc__)
    split, out, results, systems = args[0], args[1], args[2], args[3:]
    manifest = read_tsv(os.path.join(split, "manifest.tsv"))
    table = pooled_counts(split, out, systems, manifest)
    conditions = sorted({r["condition"] for r in manifest}, key=condition_key)
    recordings = {c: [r for r in manifest if r["condition"] == c] for c in conditions}
    seconds = {c: sum(float(r["seconds"]) for r in recordings[c]) for c in conditions}
    m = {s: {c: metrics(table[s][c], c != "nospeech") for c in conditions + ["all"]}
         for s in systems}
    # "all" pools every recording: its F1 and miss rate count the speech frames of all of them.
    for s in systems:
        m[s]["all"] = metrics(table[s]["all"], True)

    lines = ["# tarvik against " + ", ".join(NAMES.get(s, s) for s in systems if s != "tarvik"), ""]
    lines += [f"- {n}" for n in notes]
    total = sum(seconds.values())
    lines += [f"- Recordings: {len(manifest)}, {total / 3600:.2f} h; frames of 10 ms, frame j "
              "scored at sample 160 j + 200 (the centre of the reference frame).", ""]

    lines += ["## Speech F1 per condition", "",
              "| condition | recordings | minutes | " + " | ".join(NAMES.get(s, s) for s in systems)
              + " |", "|---|---:|---:|" + "---:|" * len(systems)]
    for c in conditions + ["all"]:
        if c == "nospeech":
            continue
        n = len(manifest) if c == "all" else len(recordings[c])
        minutes = (total if c == "all" else seconds[c]) / 60
        lines.append(f"| {label(c)} | {n} | {minutes:.1f} | "
                     + " | ".join(f1(m[s][c]["f1"]) for s in systems) + " |")
    lines.append("")

    lines += ["## All figures", "",
              "Accuracy, false-alarm (FA) and miss rates in percent of frames.", "",
              "| condition | system | frames | accuracy | speech F1 | FA rate | miss rate |",
              "|---|---|---:|---:|---:|---:|---:|"]
    for c in conditions + ["all"]:
        for s in systems:
            x = m[s][c]
            lines.append(f"| {label(c)} | {NAMES.get(s, s)} | {x['frames']} | {pct(x['accuracy'])} | "
                         f"{f1(x['f1'])} | {pct(x['fa'])} | {pct(x['miss'])} |")
    lines.append("")

    for name in ("noise family", "speech source"):
        lines += group_lines(split, out, systems, manifest, name)
    lines += speed_lines(out, systems)
    lines += aim_lines(m, conditions, out, systems)
    lines += false_alarm_aims(split, out, manifest, m)
    with open(results, "w") as f:
        f.write("\n".join(lines).rstrip("\n") + "\n")


def group_lines(split, out, systems, manifest, name):
    """Speech F1 and false-alarm rate per noise family or speech source, all conditions pooled."""
    table = pooled_counts(split, out, systems, manifest, GROUPS[name])
    groups = sorted(k for k in table[systems[0]] if k != "all") + ["all"]
    lines = [f"## By {name}", "", "Speech F1 / false-alarm rate in percent, conditions pooled.", "",
             f"| {name} | frames | " + " | ".join(NAMES.get(s, s) for s in systems) + " |",
             "|---|---:|" + "---:|" * len(systems)]
    for g in groups:
        m = {s: metrics(table[s][g], True) for s in systems}
        lines.append(f"| {g} | {m[systems[0]]['frames']} | "
                     + " | ".join(f"{f1(m[s]['f1'])} / {pct(m[s]['fa'])}" for s in systems) + " |")
    return lines + [""]


FA_AIM = 0.03  # tarvik's no-speech false alarms at most this
FAMILY_FA_AIM = 0.05  # and no noise family with more of its non-speech frames marked speech


def false_alarm_aims(split, out, manifest, m):
    """tarvik's no-speech false alarms and its worst noise family against FA_AIM and
    FAMILY_FA_AIM."""
    if "tarvik" not in m or "nospeech" not in m["tarvik"]:
        return []
    fa = m["tarvik"]["nospeech"]["fa"] or 0.0
    table = pooled_counts(split, out, ["tarvik"], manifest, GROUPS["noise family"])["tarvik"]
    fams = {k: metrics(v, True)["fa"] or 0.0 for k, v in table.items() if k not in ("all", "none")}
    worst = max(fams, key=fams.get) if fams else "-"
    return [f"- tarvik's no-speech false alarms at most {FA_AIM:.0%}: "
            f"{'yes' if fa <= FA_AIM else 'no'} ({pct(fa)} %)",
            f"- no noise family with more than {FAMILY_FA_AIM:.0%} of its non-speech marked speech: "
            f"{'yes' if fams.get(worst, 0) <= FAMILY_FA_AIM else 'no'} (worst {worst}, "
            f"{pct(fams.get(worst))} %)", ""]


def speed_lines(out, systems):
    lines = ["## Speed on one core", "",
             "Times real time: audio seconds over processing seconds, best of the repeats. Per "
             "recording: tarvik's time is a whole process run (start-up and model loading "
             "included), the peers' the time to read the file and run the VAD in a process that "
             "has loaded the model. Long recording: the recordings joined into one file.", "",
             "| system | per recording | long recording |", "|---|---:|---:|"]
    for s in systems:
        cells = []
        for path in (os.path.join(out, f"{s}.speed.tsv"), os.path.join(out, "long", f"{s}.speed.tsv")):
            sp = speed(path)
            cells.append("–" if sp is None else f"{sp[0] / sp[1]:.0f}× ({sp[0]:.0f} s in {sp[1]:.2f} s)")
        lines.append(f"| {NAMES.get(s, s)} | " + " | ".join(cells) + " |")
    lines.append("")
    return lines


def aim_lines(m, conditions, out, systems):
    if not {"tarvik", "webrtc", "silero"} <= set(systems):
        return []
    speech = [c for c in conditions if c != "nospeech"]
    score = {s: {c: m[s][c]["f1"] or 0.0 for c in speech} for s in systems}
    below = [c for c in speech if score["tarvik"][c] < score["silero"][c]]
    webrtc = [c for c in speech if score["tarvik"][c] <= score["webrtc"][c]]
    peers = [s for s in systems if s != "tarvik"]
    best = [c for c in speech if score["tarvik"][c] < max(score[s][c] for s in peers)]
    lines = ["## Aim", "",
             "- tarvik's speech F1 at least the best peer's in every condition: "
             + ("yes" if not best else "no (" + ", ".join(map(label, best)) + ")"),
             "- tarvik's speech F1 at least Silero VAD's in every condition: "
             + ("yes" if not below else "no (" + ", ".join(map(label, below)) + ")"),
             "- tarvik's speech F1 above WebRTC VAD's in every condition: "
             + ("yes" if not webrtc else "no (" + ", ".join(map(label, webrtc)) + ")")]
    for kind, sub in (("per recording", ""), ("long recording", "long")):
        t = speed(os.path.join(out, sub, "tarvik.speed.tsv"))
        s = speed(os.path.join(out, sub, "silero.speed.tsv"))
        if t and s:
            ratio = (t[0] / t[1]) / (s[0] / s[1])
            lines.append(f"- tarvik's speed over Silero VAD's, {kind}: {ratio:.1f}× "
                         f"({'at least' if ratio >= 10 else 'below'} 10×)")
    return lines + [""]


if __name__ == "__main__":
    main()
