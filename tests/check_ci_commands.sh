#!/bin/sh
# Checks that .ci/run runs the set-up commands of README.md (its indented lines that begin with
# "bash tools/install-deps.sh &&") exactly, each as one subshell "(<command>)".
#   check_ci_commands.sh <source folder>
set -eu
cd "$1"
commands=$(sed -nE 's/^    (bash tools\/install-deps\.sh && .*)$/\1/p' README.md)
if [ -z "$commands" ]; then
  echo "README.md has no set-up command" >&2
  exit 1
fi
status=0
printf '%s\n' "$commands" | while IFS= read -r command; do
  if ! grep -qxF "($command)" .ci/run; then
    echo ".ci/run does not run: $command" >&2
    exit 1
  fi
done || status=1
exit $status
