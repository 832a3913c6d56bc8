#!/bin/sh
# Writes the sample TextGrids and has Praat read each of them, checking tier
# count, end time and interval counts. Exits 77 (skipped) without Praat.
# Usage: praat_check.sh <sample writer> <check script> <scratch directory>
set -eu
writer=$1
script=$2
dir=$3

if ! command -v praat >/dev/null 2>&1; then
    echo "praat not found: the TextGrids are not checked with Praat"
    exit 77
fi

rm -rf "$dir"
mkdir -p "$dir"
"$writer" "$dir" >"$dir/manifest.tsv"

tab=$(printf '\t')
failed=0
while IFS="$tab" read -r path tiers end_time counts; do
    if ! praat --run "$script" "$path" "$tiers" "$end_time" "$counts"; then
        echo "FAILED: $path"
        failed=1
    fi
done <"$dir/manifest.tsv"
exit $failed
