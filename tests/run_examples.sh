#!/usr/bin/env bash
# Translates every page under examples/ with the given zoqc (which must say nothing on standard
# error: no warning with the default switches), checks the page with `php -l`,
# renders it as it stands (`php examples/NAME/NAME.php`, nothing prepended, every notice shown)
# and compares the HTML byte for byte with <name>.expected.html.
# Usage: tests/run_examples.sh ZOQC_BINARY   (exit 77: php missing, the pages are skipped)
set -u
if ! command -v php >/dev/null 2>&1; then
  echo "php not found: example pages skipped"
  exit 77
fi
zoqc=$(realpath -e "${1:?usage: run_examples.sh ZOQC_BINARY}") || exit 2
examples=$(cd "$(dirname "$0")/../examples" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0

# check_page NAME DIR: prints what went wrong and returns 1, or returns 0.
check_page() {
  local name=$1 dir=$2 out
  out=$(cd "$dir" && "$zoqc" "$name" 2>"$scratch/zoqc.err")
  if [[ $? -ne 0 || "$(tail -n 1 <<<"$out")" != "Compile sucessful." ]]; then
    printf '%s: zoqc failed:\n%s\n' "$name" "$out"
    cat "$scratch/zoqc.err"
    return 1
  fi
  # The examples are the pages users copy: not one warning with the default switches.
  if [[ -s "$scratch/zoqc.err" ]]; then
    printf '%s: zoqc warned:\n' "$name"
    cat "$scratch/zoqc.err"
    return 1
  fi
  [[ -f "$dir/$name.expected.html" ]] || { echo "$name: no $name.expected.html"; return 1; }
  out=$(php -l "$dir/$name.php" 2>&1) || { printf '%s: php -l failed:\n%s\n' "$name" "$out"; return 1; }
  # Every notice counts: errors go to stderr, and a page that printed any has failed. Run
  # from another folder, as `php examples/NAME/NAME.php` is.
  (cd "$scratch" && php -d error_reporting=-1 -d display_errors=stderr -d log_errors=0 \
    "$dir/$name.php") >"$dir/rendered.html" 2>"$dir/errors.txt"
  if [[ $? -ne 0 || -s "$dir/errors.txt" ]]; then
    echo "$name: php failed:"; cat "$dir/errors.txt"; return 1
  fi
  if ! cmp -s "$dir/rendered.html" "$dir/$name.expected.html"; then
    echo "$name: rendered page differs from $name.expected.html (< rendered, > expected):"
    diff <(cat -A "$dir/rendered.html") <(cat -A "$dir/$name.expected.html")
    return 1
  fi
}

for script in "$examples"/*/*.zoq; do
  [[ -f "$script" ]] || continue
  name=$(basename "$script" .zoq)
  work=$(mktemp -d "$scratch/page.XXXXXX")
  cp -R "$(dirname "$script")/." "$work"
  if check_page "$name" "$work"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
