#!/bin/sh
# Checks the shipped model pair against the sha-256 sums that models/README.md pins: the lines of
# the form "<64 hex digits>  <file>" there (indented or not), as sha256sum writes them. Fails when a sum differs or
# when media.am or media.norm has no line.
#   check_model_sums.sh <models folder>
set -eu
cd "$1"
sums=$(sed -nE 's/^ *([0-9a-f]{64}  [^ ]+) *$/\1/p' README.md)
for file in media.am media.norm; do
  if ! printf '%s\n' "$sums" | grep -q "  $file\$"; then
    echo "README.md pins no sha-256 sum for $file" >&2
    exit 1
  fi
done
printf '%s\n' "$sums" | sha256sum --check --strict
