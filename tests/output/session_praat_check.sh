#!/bin/sh
# Records sample sessions and has Praat run their appended load script,
# checking the Sounds and TextGrids it loads. Exits 77 (skipped) without Praat.
# Usage: session_praat_check.sh <session writer> <check script> <scratch directory> <frame counts>
set -eu
writer=$1
script=$2
dir=$3
frames=$4

if ! command -v praat >/dev/null 2>&1; then
    echo "praat not found: the session load script is not checked with Praat"
    exit 77
fi

rm -rf "$dir"
mkdir -p "$dir"
"$writer" "$dir"
praat --run "$script" "$dir/load_files.praat" "$frames"
