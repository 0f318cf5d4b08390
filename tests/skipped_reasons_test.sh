#!/usr/bin/env bash
# scripts/skipped-reasons on a ctest run's output and log: each skipped test with the reason its
# own output gives, and the tests that ran left out.
#
#   bash tests/skipped_reasons_test.sh SOURCE_DIR
set -u
source_dir=$1
scratch=$(mktemp -d) || exit 2
trap 'rm -rf -- "$scratch"' EXIT

# One test per kind: skipped with a reason, skipped without one, passed (whose output is not a
# reason), and skipped with a reason after other output.
entry() {  # NAME OUTPUT...
  local name=$1
  shift
  printf '%s\n' "----------------------------------------------------------" \
    "7/9 Testing: $name" "7/9 Test: $name" "Command: \"/bin/sh\"" "Output:" \
    "----------------------------------------------------------" "$@" "<end of output>" \
    "Test time =   0.01 sec"
}
{
  entry editor_node "node or editors/vscode/node_modules missing: skipped; scripts/setup-editors installs them"
  entry editor_quiet
  entry golden_cases "44 passed, 0 failed"
  entry manual_page "checking" "" "groff not found: manual page skipped"
} >"$scratch/LastTest.log"
printf '%s\n' "100% tests passed, 0 tests failed out of 4" "" \
  "The following tests did not run:" $'\t261 - editor_node (Skipped)' \
  $'\t262 - editor_quiet (Skipped)' $'\t263 - manual_page (Skipped)' >"$scratch/ctest"

got=$(bash "$source_dir/scripts/skipped-reasons" "$scratch/ctest" "$scratch/LastTest.log")
want="Why the skipped tests did not run:
  editor_node: node or editors/vscode/node_modules missing: skipped; scripts/setup-editors installs them
  editor_quiet: it gave no reason
  manual_page: groff not found: manual page skipped"
if [ "$got" != "$want" ]; then
  echo "FAIL: got"
  echo "$got"
  exit 1
fi
# Nothing skipped: nothing said.
printf '%s\n' "100% tests passed, 0 tests failed out of 4" >"$scratch/ctest"
got=$(bash "$source_dir/scripts/skipped-reasons" "$scratch/ctest" "$scratch/LastTest.log")
[ -z "$got" ] || { echo "FAIL: said '$got' with nothing skipped"; exit 1; }
# Every test that can skip says why and, for the editor tests, what installs what they need.
for script in tests/editors/run_session.sh editors/vscode/test/grammars.sh CMakeLists.txt; do
  if grep -n 'exit 77' "$source_dir/$script" | grep -v 'echo' | grep -q .; then
    echo "FAIL: $script skips without saying why:"
    grep -n 'exit 77' "$source_dir/$script" | grep -v 'echo'
    exit 1
  fi
done
echo "skipped-reasons: ok"
