#!/usr/bin/env bash
# The copy of a site's other files into the output folder (-r SRC -o OUT) against `cp -r` of
# the same tree, then a second, unchanged run. Usage: bench/site/mirror.sh ZOQC [FILES] [MB]
# (default 2,000 files, 200 MB). Both commands start by removing what the one before made, so
# each run copies the whole tree into a fresh folder.
set -euo pipefail
zoqc=$(realpath "$1")
files=${2:-2000}
mb=${3:-200}
work=$(mktemp -d "${TMPDIR:-/tmp}/zoqc-mirror-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$(dirname "$0")/gen_assets.py" "$work/src" "$files" "$mb"
echo "site: $(find "$work/src" -type f | wc -l) files, $(du -sm "$work/src" | cut -f1) MB"
cd "$work"
sync
farm-bench -n 7 --timeout 600 --vs "sh -c 'rm -rf cp; cp -r src cp'" -- \
  sh -c "rm -rf out; '$zoqc' -q -r src -o out"
echo "second run, nothing changed:"
"$zoqc" -q -r src -o out
farm-bench -n 10 --timeout 120 -- "$zoqc" -q -r src -o out
echo "system calls of the second run:"
strace -f -c "$zoqc" -q -r src -o out 2>&1 | awk 'NR <= 2 || /stat|open|total/'
