#!/usr/bin/env bash
# The mutation pass: how many hand-made faults the test suite catches. Each fault of the list
# is put into the source alone, the release build is rebuilt and its whole suite run (ctest,
# stopping at the first failure), and the file is restored. Prints each fault as caught (with
# the first tests that failed), survived, or not built, and the score over the faults a user
# could notice.
#
#   bench/mutate.sh [LIST] [WORD]    LIST: bench/mutations.txt; WORD: only faults whose line
#                                    holds it
#
# A fault in the list:
#   @ FILE DESCRIPTION     DESCRIPTION starts with "unseen:" for a fault no user could notice
#   - TEXT                 the text to replace: it must stand exactly once in FILE
#   + TEXT                 what replaces it (no "+" line: the text is removed)
# Several "-" or "+" lines stand for lines of text joined by line ends. Lines starting with
# "#" and empty lines are skipped.
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

build() { cmake --build --preset release -j2 >"$log/build" 2>&1; }
suite() { ctest --preset release -j2 --stop-on-failure --timeout 120 >"$log/ctest" 2>&1; }

cmake --preset release >/dev/null || exit 2
if ! build || ! suite; then
  echo "the unchanged tree does not build or pass its suite; see build-release/"
  exit 2
fi

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
    outcome="caught by $(grep -oE '#[0-9]+: [^ ]+ \.*\*+' "$log/ctest" | head -n 3 |
      sed -E 's/^#[0-9]+: //; s/ \.*\*+$//' | paste -sd, -)"
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
    '#'* | '') ;;
    *) echo "?? a line the list does not know: $line" ;;
  esac
done <"$list"
flush

build >/dev/null  # the unchanged tree again
echo
percent=$((total > 0 ? 100 * caught / total : 0))
echo "caught $caught of $total faults a user could notice ($percent%);" \
  "$unseen_caught of $unseen_total that no user could notice; $broken not built"
for survivor in "${survivors[@]}"; do echo "  survived: $survivor"; done
