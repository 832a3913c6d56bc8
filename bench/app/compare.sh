#!/usr/bin/env bash
# Whole-process speed of tarvik against a build of an older commit, on recordings of real
# speech (models/sample.wav, looped for the long ones) with the shipped model pair. Both builds
# run interleaved on one pinned core; prints per build and length the medians of wall time,
# times real time, peak resident memory and page faults, and the ratio of the old build's time
# to the new one's. Checks that both builds write the same TextGrid. Prints figures only.
# Usage: bench/app/compare.sh [old commit (2d5bef5)] [runs (7)] [seconds... (0.1 3 10 1800)]
# Environment: BUILD (the current tree's build folder, default build), CORE (7).
# The old commit is built once in ${TMPDIR:-/tmp}/tarvik-compare-<hash> and kept for reruns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
old=${1:-2d5bef5}
runs=${2:-7}
shift $(($# > 2 ? 2 : $#))
lengths=("$@")
[ ${#lengths[@]} -gt 0 ] || lengths=(0.1 3 10 1800)
core=${CORE:-7}
build=$(cd "${BUILD:-$root/build}" && pwd)

hash=$(git -C "$root" rev-parse --short "$old^{commit}")
old_dir=${TMPDIR:-/tmp}/tarvik-compare-$hash
if [ ! -x "$old_dir/build/app/tarvik" ]; then
    echo "building $hash in $old_dir"
    rm -rf "$old_dir" && mkdir -p "$old_dir/src"
    git -C "$root" archive "$hash" | tar -x -C "$old_dir/src"
    cmake -S "$old_dir/src" -B "$old_dir/build" -DCMAKE_BUILD_TYPE=Release \
        -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF >/dev/null
    cmake --build "$old_dir/build" -j 3 --target tarvik >/dev/null
fi
cmake --build "$build" -j 3 --target tarvik >/dev/null
bins=("$old_dir/build/app/tarvik" "$build/app/tarvik")
names=("$hash" "current")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/models/media.am" "$root/models/media.norm" "$work/"

# A recording of `seconds` (whole samples of it) from the sample's samples, looped, with a header
# that gives its sizes.
make_input() {
    local seconds=$1 out=$2
    local bytes=$(awk -v s="$seconds" 'BEGIN { printf "%d", int(s * 16000 + 0.5) * 2 }')
    local sample="$root/models/sample.wav"
    perl -e 'my ($n) = @ARGV; print "RIFF", pack("V", $n + 36), "WAVEfmt ",
        pack("VvvVVvv", 16, 1, 1, 16000, 32000, 2, 16), "data", pack("V", $n);' "$bytes" >"$out"
    local data=$(($(stat -c %s "$sample") - 44))
    local loops=$(((bytes + data - 1) / data))
    for ((i = 0; i < loops; ++i)); do tail -c +45 "$sample" >>"$out"; done
    truncate -s $((44 + bytes)) "$out"
}

for s in "${lengths[@]}"; do make_input "$s" "$work/in$s.wav"; done

# One run: appends "wall_s rss_kb minor_faults major_faults" to $work/<build>-<seconds>.txt.
run_one() {
    local b=$1 s=$2
    local t0=$EPOCHREALTIME
    (cd "$work" && /usr/bin/time -f '%M %R %F' -o "time$b.txt" taskset -c "$core" "${bins[$b]}" \
        "in$s.wav" "out$b-$s.TextGrid" >"console$b.txt")
    local t1=$EPOCHREALTIME
    echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }') $(cat "$work/time$b.txt")" \
        >>"$work/$b-$s.txt"
    [ "$(tail -n 1 "$work/console$b.txt")" = "Done!" ] || {
        echo "FAILED: ${names[$b]} on $s s: $(tail -n 1 "$work/console$b.txt")"
        exit 1
    }
}

same=1
for ((r = 0; r < runs; ++r)); do
    for s in "${lengths[@]}"; do
        # Alternate which build goes first so that neither always finds a warm cache.
        if ((r % 2 == 0)); then run_one 0 "$s" && run_one 1 "$s"; else run_one 1 "$s" && run_one 0 "$s"; fi
        cmp -s "$work/out0-$s.TextGrid" "$work/out1-$s.TextGrid" || same=0
    done
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "medians of $runs interleaved runs on core $core; shipped model; models/sample.wav looped"
printf "%-8s %-9s %10s %10s %12s %12s %9s\n" length build wall_ms x_realtime peak_rss_MB \
    minor_faults major_faults
for s in "${lengths[@]}"; do
    for b in 0 1; do
        f="$work/$b-$s.txt"
        wall=$(cut -d' ' -f1 "$f" | median)
        rss=$(cut -d' ' -f2 "$f" | median)
        minor=$(cut -d' ' -f3 "$f" | median)
        major=$(cut -d' ' -f4 "$f" | median)
        printf "%-8s %-9s %10.1f %10.0f %12.1f %12.0f %9.0f\n" "${s}s" "${names[$b]}" \
            "$(awk -v w="$wall" 'BEGIN { print w * 1000 }')" \
            "$(awk -v w="$wall" -v s="$s" 'BEGIN { print s / w }')" \
            "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$minor" "$major"
        eval "wall$b=$wall"
    done
    awk -v a="$wall0" -v b="$wall1" -v s="$s" -v h="$hash" \
        'BEGIN { printf "%-8s speed-up against %s: %.2f times\n", s "s", h, a / b }'
done
if ((same)); then echo "TextGrids: identical"; else echo "TextGrids: DIFFERENT"; exit 1; fi
