#!/usr/bin/env bash
# Runs examples/Makefile on a copy of examples/: it translates every page with the zoqc given,
# and by default takes the zoqc on PATH, or ../build-release/zoqc when PATH has none.
#   bash tests/examples_makefile_test.sh ZOQC_BINARY
set -u
zoqc=$(realpath -e "${1:?usage: examples_makefile_test.sh ZOQC_BINARY}") || exit 2
make=$(command -v make) || { echo "make not found"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$(dirname "$0")/../examples" "$scratch/examples"
mkdir "$scratch/bin"
ln -s "$zoqc" "$scratch/bin/zoqc"
failed=0
fail() { echo "$*"; failed=1; }

# Every page, translated by the zoqc given.
"$make" -B -s -j2 -C "$scratch/examples" ZOQC="$zoqc" || fail "make failed"
for script in "$scratch"/examples/*/*.zoq; do
  [[ -s ${script%.zoq}.php ]] || fail "make did not write ${script%.zoq}.php"
done
# The default: the recipe make would run, with and without a zoqc on PATH.
recipe() { PATH=$1 "$make" --no-print-directory -n -B -C "$scratch/examples" hello/hello.php 2>&1; }
got=$(recipe "$scratch/bin")
[[ $got == "$scratch/bin/zoqc -q hello/hello.zoq" ]] || fail "with zoqc on PATH: $got"
got=$(recipe "$scratch/empty")
[[ $got == "../build-release/zoqc -q hello/hello.zoq" ]] || fail "without zoqc on PATH: $got"

[[ $failed -eq 0 ]] && echo "examples Makefile ok"
exit $failed
