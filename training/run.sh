#!/usr/bin/env bash
# The model pipeline in one command: builds tarvik, builds the training corpus, extracts the
# features with tarvik's own front end, trains, exports models/media.am and models/media.norm
# with the training checkpoint models/checkpoint.pt, tunes the output bias end to end, checks that
# tarvik agrees with the trainer, evaluates per condition and measures the whole program's speed.
# Prints how long each stage took.
#
# Usage: training/run.sh [options] [training options]
#   --corpus DIR       where the corpus is built (default out/training/corpus)
#   --existing-corpus  use the corpus in DIR as it is (its splits READY) instead of rebuilding it
#   --real DIR         where the real recordings of the Debian packages are decoded, once
#                      (default out/training/real; speech/ and noise/ with READY are kept)
#   --train-hours H    hours of training recordings
#   --valid-hours V    hours of validation recordings of held-out real packages
#   --seed S           seed of the corpus and of the training (default 1)
#   --train-conditions L  cycle of speech conditions of the training recordings
#                      (repeat one to weigh it more)
#   --train-nospeech F share of training recordings without speech
#                      (defaults of these four: training/corpus/build_corpus.py --help)
#   --resume           continue the training of the last checkpoint: the one of an interrupted
#                      run (out/training/cache/checkpoint.pt), else the pair's own
#                      (models/checkpoint.pt) with its arguments, but for the training options
#                      given now (a larger --epochs stretches the learning-rate schedule)
#   --jobs N           parallel jobs (default 6)
#   --bias-objective O output bias tuned for the mean speech F1 over the five speech conditions
#                      with bounded no-speech false alarms (f1, default) or for the mean
#                      accuracy over the six conditions (accuracy)
#   --max-nospeech-fa F  with --bias-objective f1: largest accepted no-speech false alarms
#                      (default 0.03)
#   --models DIR       where the model pair is written (default models)
#   --help             prints this text and the training options
# Training options (training/model/train.py, which holds their defaults), among them --epochs,
# --minutes (a cap on the run, not the schedule), --blocks, --cells, --threads, --length,
# --batch, --lr, --noise, --weight-decay, --no-carry, --carry-reset, are passed to the trainer as
# they are.
set -euo pipefail
cd "$(dirname "$0")/.."

corpus=out/training/corpus
existing=0
real=out/training/real
seed=1
corpus_options=()
resume=0
jobs=6
evaluate_options=()
training_options=()
models=models
while [ $# -gt 0 ]; do
    case "$1" in
        --corpus) corpus=$2; shift 2 ;;
        --existing-corpus) existing=1; shift ;;
        --real) real=$2; shift 2 ;;
        --train-hours|--valid-hours|--train-conditions|--train-nospeech)
            corpus_options+=("$1" "$2"); shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --resume) resume=1; shift ;;
        --jobs) jobs=$2; shift 2 ;;
        --bias-objective) evaluate_options+=(--objective "$2"); shift 2 ;;
        --max-nospeech-fa) evaluate_options+=(--max-nospeech-fa "$2"); shift 2 ;;
        --models) models=$2; shift 2 ;;
        --help)
            sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'
            echo
            /usr/bin/python3 training/model/train.py --help | sed -n '/^options:/,$p'
            exit 0 ;;
        --carry|--no-carry) training_options+=("$1"); shift ;;
        --*) training_options+=("$1" "$2"); shift 2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

python=/usr/bin/python3
build=build-training
cache=out/training/cache
model_dir=training/model
common=(--corpus "$corpus" --cache "$cache")
mkdir -p "$cache" "$models"
if [ "$resume" = 1 ]; then
    checkpoint=$cache/checkpoint.pt
    [ -e "$checkpoint" ] || checkpoint=$models/checkpoint.pt
    [ -e "$checkpoint" ] || { echo "no checkpoint to resume" >&2; exit 1; }
    # The run's checkpoint starts as a copy, so that the pair's own stays as it was until
    # the training ends.
    [ "$checkpoint" = "$cache/checkpoint.pt" ] || cp "$checkpoint" "$cache/checkpoint.pt"
    training_options=(--resume "$cache/checkpoint.pt" "${training_options[@]}")
fi

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}

build_tarvik() {
    cmake -S . -B "$build" -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j 4 >/dev/null
}

decode_real() {
    for kind in speech noise; do
        if [ -e "$real/$kind/READY" ]; then
            echo "using the decoded real $kind in $real/$kind"
        else
            "$python" "training/corpus/real_$kind.py" --out "$real/$kind" --jobs "$jobs"
        fi
    done
}

build_corpus() {
    if [ "$existing" = 1 ]; then
        for split in train valid valid-synth; do
            [ -e "$corpus/$split/READY" ] || { echo "no $corpus/$split/READY" >&2; exit 1; }
        done
        echo "using the existing corpus in $corpus"
        return
    fi
    "$python" training/corpus/build_corpus.py --out "$corpus" --seed "$seed" --jobs "$jobs" \
        --real-speech "$real/speech" --real-noise "$real/noise" "${corpus_options[@]}"
}

total=$SECONDS
stage "build tarvik" build_tarvik
stage "real recordings" decode_real
stage "corpus" build_corpus
stage "features" "$python" "$model_dir/data.py" "${common[@]}" --tool "$build/tools/tarvik_features" \
    --jobs "$jobs"
stage "training and export" "$python" "$model_dir/train.py" "${common[@]}" \
    --tool "$build/tools/tarvik_features" --frames-tool "$build/tools/tarvik_frames" \
    --out "$models" --seed "$seed" --jobs "$jobs" "${training_options[@]}"
cp "$cache/checkpoint.pt" "$models/checkpoint.pt"
stage "output bias tuning and evaluation" "$python" "$model_dir/evaluate.py" "${common[@]}" \
    --models "$models" --tool "$build/tools/tarvik_frames" --jobs "$jobs" \
    "${evaluate_options[@]}"
stage "agreement check" "$python" "$model_dir/check.py" --corpus "$corpus" --models "$models" \
    --tool "$build/tools/tarvik_frames" --jobs "$jobs"
stage "speed" "$python" "$model_dir/speed.py" --corpus "$corpus" --models "$models" \
    --tarvik "$build/app/tarvik"
echo "== total: $((SECONDS - total)) s"
