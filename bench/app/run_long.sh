#!/usr/bin/env bash
# Runs tarvik on a long synthetic recording (three hours by default: tone bursts
# between stretches of low noise) with a model of 8 blocks x 4 cells per
# direction. Checks that the run ends with "Done!", that the decision loop gives
# exactly one code per frame (n / 160, counted with tarvik_frames) and that
# Praat reads the TextGrid with the end time of that many codes; prints the
# time, times real time, and peak resident memory against the budget of the
# samples as 16-bit values plus 64 MB. Exits 1 when a check fails.
# Usage: bench/app/run_long.sh [build folder] [seconds]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-10800}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bench/app/make_bench_input" . "$seconds"
bytes=$(stat -c %s hour.wav)
samples=$(((bytes - 44) / 2))
frames=$((samples / 160))

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

start=$(date +%s.%N)
/usr/bin/time -v -o time.txt taskset -c 0 "$build/app/tarvik" hour.wav long.TextGrid >console.txt ||
    fail "tarvik exited with status $?"
end=$(date +%s.%N)
rss_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)
[ "$(tail -n 1 console.txt)" = "Done!" ] || fail "tarvik did not finish: $(tail -n 2 console.txt)"

# One line per code after the header line.
taskset -c 0 "$build/tools/tarvik_frames" hour.wav frames.tsv >/dev/null ||
    fail "tarvik_frames exited with status $?"
codes=$(($(wc -l <frames.tsv) - 1))
[ "$codes" -eq "$frames" ] || fail "$codes codes for $frames frames"

# The end time as written (6 significant digits) and the interval count of the tier.
end_time=$(awk -v n="$frames" 'BEGIN { printf "%.6g", (n - 1) * 0.01 + 0.0075 }')
grep -qx "xmax = $end_time" long.TextGrid || fail "TextGrid end time is not $end_time"
intervals=$(awk '/^intervals: size = / { print $4 }' long.TextGrid)
if command -v praat >/dev/null 2>&1; then
    praat --run "$here/../../tests/output/check_textgrid.praat" "$work/long.TextGrid" 1 \
        "$end_time" "$intervals" >/dev/null || fail "Praat does not read the TextGrid"
else
    echo "praat not found: the TextGrid is not checked with Praat"
fi

awk -v s="$seconds" -v n="$samples" -v t0="$start" -v t1="$end" -v rss="$rss_kb" \
    -v codes="$codes" -v intervals="$intervals" 'BEGIN {
    t = t1 - t0
    budget = (n * 2 + 64 * 1048576) / 1048576
    printf "recording: %d s, %d samples; %d codes; %d intervals\n", s, n, codes, intervals
    printf "run: %.2f s; %.0f times real time on one core\n", t, s / t
    printf "peak resident memory: %.1f MB (budget: samples x 2 bytes + 64 MB = %.1f MB)\n", \
        rss / 1024, budget
    if (rss / 1024 > budget) {
        print "FAILED: over the memory budget"
        exit 1
    }
}' || failed=1
exit $failed
