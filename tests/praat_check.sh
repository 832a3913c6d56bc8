#!/bin/sh
# Has a sample writer fill a scratch directory, then runs a Praat script once
# per line of the manifest the writer leaves there, dir/manifest.tsv: the
# script's arguments, separated by tabs (empty ones kept). When a reader is
# given, it then checks the directory (e.g. files that Praat wrote there).
# Exits 77 (skipped) without Praat.
# Usage: praat_check.sh <sample writer> <Praat script> <scratch directory> [<reader>]
set -eu
writer=$1
script=$2
dir=$3
reader=${4:-}

if ! command -v praat >/dev/null 2>&1; then
    echo "praat not found: the samples are not checked with Praat"
    exit 77
fi

rm -rf "$dir"
mkdir -p "$dir"
"$writer" "$dir"

tab=$(printf '\t')
failed=0
while IFS= read -r line; do
    set --
    while :; do
        case $line in
        *"$tab"*)
            set -- "$@" "${line%%"$tab"*}"
            line=${line#*"$tab"}
            ;;
        *)
            set -- "$@" "$line"
            break
            ;;
        esac
    done
    if ! praat --run "$script" "$@"; then
        echo "FAILED: $*"
        failed=1
    fi
done <"$dir/manifest.tsv"
if [ $failed -eq 0 ] && [ -n "$reader" ] && ! "$reader" "$dir"; then
    echo "FAILED: $reader $dir"
    failed=1
fi
exit $failed
