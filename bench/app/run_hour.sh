#!/usr/bin/env bash
# Runs tarvik on a synthetic recording (one hour by default) with a model of
# 8 blocks x 4 cells per direction, and prints times real time and peak resident
# memory against the budget of the samples as doubles plus 64 MB.
# Usage: bench/app/run_hour.sh [build folder] [seconds]
set -euo pipefail
build=${1:-build}
seconds=${2:-3600}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/app/make_bench_input" "$work" "$seconds"
start=$(date +%s.%N)
(cd "$work" && /usr/bin/time -f '%M' -o rss.txt taskset -c 0 "$OLDPWD/$build/app/tarvik" hour.wav hour.TextGrid >/dev/null)
end=$(date +%s.%N)
rss_kb=$(cat "$work/rss.txt")
awk -v s="$seconds" -v t0="$start" -v t1="$end" -v rss="$rss_kb" 'BEGIN {
    t = t1 - t0
    budget = (s * 16000 * 8 + 64 * 1048576) / 1048576
    printf "recording: %d s; run: %.2f s; %.0f times real time on one core\n", s, t, s / t
    printf "peak resident memory: %.1f MB (budget: %.1f MB)\n", rss / 1024, budget
}'
grep -m1 -A0 'intervals: size' "$work/hour.TextGrid" | sed 's/^/TextGrid /'
