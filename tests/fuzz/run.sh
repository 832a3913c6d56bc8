#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, in build-fuzz/ unless TARVIK_FUZZ_BUILD names another
# directory) and runs each for the given number of seconds, TARVIK_FUZZ_PARALLEL at a time
# (default 1), then prints each target's executions, coverage (cov: edges, ft: features), corpus
# size and findings. Exits 1 when any target found a crash, leak, timeout or memory excess.
#   tests/fuzz/run.sh <seconds> [target...]     (default: every target the build defines)
# Working corpora and findings go to TARVIK_FUZZ_OUT (default build-fuzz/runs/<target>/); the
# seed corpus in tests/fuzz/corpus/<target>/ is read, never written.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: tests/fuzz/run.sh <seconds> [target...]; targets: the names under tests/fuzz/corpus/" >&2
  exit 2
fi
seconds=$1
shift
build=$(realpath -m "${TARVIK_FUZZ_BUILD:-build-fuzz}")
# Absolute: the recording target changes its working directory to the model files'.
out=$(realpath -m "${TARVIK_FUZZ_OUT:-$build/runs}")
seeds=$PWD/tests/fuzz/corpus
parallel=${TARVIK_FUZZ_PARALLEL:-1}

# Inputs larger than this are not tried; the recording target refuses more than 64 kB itself.
max_len() {
  case $1 in
    recording) echo 65536 ;;
    model | model_text) echo 49152 ;;
    *) echo 4096 ;;
  esac
}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DTARVIK_FUZZ=ON -DTARVIK_WERROR=ON \
    -DTARVIK_BUILD_BENCH=OFF >/dev/null
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. fuzz_//p' | sort)
fi
cmake --build "$build" -j "${TARVIK_FUZZ_JOBS:-4}" --target "${targets[@]/#/fuzz_}"

run_target() {
  local target=$1 dir="$out/$1"
  rm -rf "$dir/corpus" "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*
  mkdir -p "$dir/corpus"
  "$build/tests/fuzz/fuzz_$target" "$dir/corpus" "$seeds/$target" \
    -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$dir/" >"$dir/log" 2>&1 || true
}

running=0
for target in "${targets[@]}"; do
  mkdir -p "$out/$target"
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-16s %12s %8s %8s %8s  %s\n' target executions cov ft corpus findings
for target in "${targets[@]}"; do
  dir="$out/$target" log="$out/$target/log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The last status line of libFuzzer: "#N <EVENT> cov: C ft: F corp: K/..."
  status=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$status")
  findings=$(find "$dir" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) -printf '%f ')
  if [ -z "$execs" ]; then findings="${findings}no final stats (see $log)"; fi
  printf '%-16s %12s %8s %8s %8s  %s\n' "$target" "${execs:--}" "${cov:--}" "${ft:--}" \
    "${corp:--}" "${findings:-none}"
  if [ -n "$findings" ]; then
    failed=$((failed + 1))
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 | sed 's/^/    /'
  fi
done
echo "fuzz: $((${#targets[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
