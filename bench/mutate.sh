#!/usr/bin/env bash
# The mutation pass: how many hand-made faults the test suite catches. Each fault of the list
# is put into the source alone, the build is rebuilt and the tests that cover it run (stopping
# at the first failure), and the file is restored. Prints each fault as caught (with the first
# tests that failed), survived, or not built, and the score over the faults a user could notice.
#
#   nice -n 10 bench/mutate.sh [LIST] [WORD]   LIST: bench/mutations.txt; WORD: only faults
#                                              whose line holds it
#
# A fault in the list:
#   @ FILE DESCRIPTION     DESCRIPTION starts with "unseen:" for a fault no user could notice
#   - TEXT                 the text to replace: it must stand exactly once in FILE
#   + TEXT                 what replaces it (no "+" line: the text is removed)
# Several "-" or "+" lines stand for lines of text joined by line ends. Lines starting with
# "#" and empty lines are skipped. Two lines set how the faults after them are tried, so that
# a fault costs the build and the tests of its own folder, not the whole suite:
#   ! build COMMAND        the build (default: the release build of everything)
#   ! test COMMAND         the tests, run from the source folder (default: the whole release
#                          suite under ctest); "! test" alone goes back to the default
# With ZOQC_MUTATE_FULL=1 every fault is tried against the default build and the whole suite.
# Configure build-release with ccache (cmake --preset release
# -DCMAKE_CXX_COMPILER_LAUNCHER=ccache): restoring a file then costs a cache hit, not a compile.
set -uo pipefail
cd "$(dirname "$0")/.."
list=${1:-bench/mutations.txt}
only=${2:-}
log=$(mktemp -d)
backup=$log/original
file=""

restore() {
  if [ -n "$file" ]; then
    cp -- "$backup" "$file"  # a new modification time: the next build compiles it again
    file=""
  fi
}
trap 'restore; rm -rf -- "$log"' EXIT
trap 'exit 130' INT TERM

default_build="cmake --build --preset release -j2"
default_test="ctest --preset release -j2 --stop-on-failure --timeout 120"
build_command=$default_build test_command=$default_test
build() { bash -c "$build_command" >"$log/build" 2>&1; }
suite() { bash -c "$test_command" >"$log/ctest" 2>&1; }

cmake --preset release >/dev/null || exit 2
declare -A checked  # the build and test commands the unchanged tree passed
# Checks once that the unchanged tree builds and passes the current tests.
baseline() {
  local key="$build_command"$'\n'"$test_command"
  [ -z "${checked[$key]:-}" ] || return 0
  if ! build || ! suite; then
    echo "the unchanged tree does not build or pass: $build_command; $test_command"
    sed 's/^/    /' "$log/ctest" | tail -n 20
    exit 2
  fi
  checked[$key]=1
}

total=0 caught=0 unseen_total=0 unseen_caught=0 broken=0
survivors=()

# Puts the fault into $file, runs the suite and tells the outcome.
try_fault() {
  local header=$1 from=$2 to=$3
  local path=${header%% *} what=${header#* }
  if [ -n "$only" ] && [[ "$header" != *"$only"* ]]; then return; fi
  if [ ! -f "$path" ]; then
    echo "?? no file $path: $what"
    return
  fi
  local text rest count
  text=$(<"$path")
  rest=${text//"$from"/}
  count=$(((${#text} - ${#rest}) / ${#from}))
  if [ "$count" -ne 1 ]; then
    echo "?? the text stands $count times in $path: $what"
    return
  fi
  baseline
  cp -- "$path" "$backup"
  file=$path
  printf '%s\n' "${text/"$from"/"$to"}" >"$path"
  local outcome
  if ! build; then
    outcome="not built"
    broken=$((broken + 1))
  elif suite; then
    outcome="SURVIVED"
  else
    outcome="caught by $( (grep -oE '#[0-9]+: [^ ]+ \.*\*+' "$log/ctest" |
      sed -E 's/^#[0-9]+: //; s/ \.*\*+$//'; grep -oE '^\[  FAILED  \] [^ ]+' "$log/ctest" |
      sed -E 's/^\[  FAILED  \] //'; grep -oE '^not ok [0-9]+ - .*' "$log/ctest" |
      sed -E 's/^not ok [0-9]+ - //') | awk '!seen[$0]++' | head -n 3 | paste -sd, -)"
  fi
  restore
  [ "$outcome" = "not built" ] && { echo "!! not built: $path: $what"; return; }
  if [[ "$what" == unseen:* ]]; then
    unseen_total=$((unseen_total + 1))
    [ "$outcome" = SURVIVED ] || unseen_caught=$((unseen_caught + 1))
  else
    total=$((total + 1))
    if [ "$outcome" = SURVIVED ]; then
      survivors+=("$path: $what")
    else
      caught=$((caught + 1))
    fi
  fi
  echo "$outcome: $path: $what"
}

header="" from="" to="" have=0 froms=0 tos=0
flush() {
  [ "$have" -eq 0 ] || try_fault "$header" "$from" "$to" </dev/null
  header="" from="" to="" have=0 froms=0 tos=0
}
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    '@ '*)
      flush
      header=${line#@ }
      have=1
      ;;
    '-' | '- '*)
      piece=${line:1}
      [ "$froms" -eq 0 ] || from+=$'\n'
      from+=${piece# }  # the one blank after the sign is not part of the text
      froms=$((froms + 1))
      ;;
    '+' | '+ '*)
      piece=${line:1}
      [ "$tos" -eq 0 ] || to+=$'\n'
      to+=${piece# }
      tos=$((tos + 1))
      ;;
    '! build' | '! build '*)
      flush
      [ -n "${ZOQC_MUTATE_FULL:-}" ] || build_command=${line#! build}
      build_command=${build_command# }
      [ -n "$build_command" ] || build_command=$default_build
      ;;
    '! test' | '! test '*)
      flush
      [ -n "${ZOQC_MUTATE_FULL:-}" ] || test_command=${line#! test}
      test_command=${test_command# }
      [ -n "$test_command" ] || test_command=$default_test
      ;;
    '#'* | '') ;;
    *) echo "?? a line the list does not know: $line" ;;
  esac
done <"$list"
flush

build_command=$default_build
build >/dev/null  # the unchanged tree again
echo
percent=$((total > 0 ? 100 * caught / total : 0))
echo "caught $caught of $total faults a user could notice ($percent%);" \
  "$unseen_caught of $unseen_total that no user could notice; $broken not built"
for survivor in "${survivors[@]}"; do echo "  survived: $survivor"; done
