#!/usr/bin/env bash
# Runs every golden case under tests/cases (or CASES_DIR) through the real zoqc binary.
#
#   bash tests/run_golden.sh ZOQC_BINARY [--php-lint] [CASES_DIR]
#
# A case folder holds page.zoq and page.zot (the inputs; a case about a missing input lacks
# one), optionally args (options put before the page name, split at blanks), expected.out (the console lines after
# the two banner lines), expected.exit (the exit code), expected.php (the page the run must write;
# absent when it must write none), optionally expected.err (the exact text on standard error;
# without it the run must write nothing there; the case's folder shows in it as CASE) and optionally existing.php (a page present
# before the run, which a failing run must leave byte for byte as it was).
# With --php-lint every produced page must also pass `php -l`; without php the run is skipped
# (exit code 77).
set -u

cases_dir="$(cd -- "$(dirname -- "$0")" && pwd)/cases"
lint=0
if [ $# -ge 2 ] && [ "$2" = "--php-lint" ]; then
  lint=1
  set -- "$1" "${@:3}"
fi
if [ $# -eq 2 ]; then
  cases_dir=$(cd -- "$2" && pwd) || exit 2
elif [ $# -ne 1 ]; then
  echo "usage: $0 ZOQC_BINARY [--php-lint] [CASES_DIR]"
  exit 2
fi
if [ "$lint" -eq 1 ]; then
  if ! command -v php >/dev/null 2>&1; then
    echo "php not found: lint skipped"
    exit 77
  fi
  lint=1
fi
zoqc=$1
case $zoqc in
  /*) ;;
  *) zoqc=$PWD/$zoqc ;;
esac
if [ ! -f "$zoqc" ] || [ ! -x "$zoqc" ]; then
  echo "not an executable: $1"
  exit 2
fi

scratch=$(mktemp -d) || exit 2
trap 'rm -rf -- "$scratch"' EXIT

# Every command of this PATH but php, for runs that must not find a PHP: the binary under test
# may be a script (zoqc.exe under wine) that needs the others.
mkdir -p "$scratch/no-php"
IFS=: read -r -a path_dirs <<<"$PATH"
declare -A seen=()
tools=()  # linked by one ln: a process per command took most of the run's time
for path_dir in "${path_dirs[@]}"; do
  for tool in "$path_dir"/*; do
    name=${tool##*/}
    if [[ -x $tool && -z ${seen[$name]:-} && $name != php && $name != php[0-9]* ]]; then
      seen[$name]=1
      tools+=("$tool")
    fi
  done
done
[ ${#tools[@]} -eq 0 ] || ln -s -t "$scratch/no-php" -- "${tools[@]}"

passed=0
failed=0

# Shows two files side by side in `cat -A` form, with the differing lines.
show_diff() {
  diff <(cat -A -- "$1") <(cat -A -- "$2") | head -n 40 | sed 's/^/    /'
}

# Checks one case; prints the reasons it fails and returns 1 when it does.
check_case() {
  local case_dir=$1 dir=$2
  local ok=0 rc want_exit
  local input args=()
  for input in page.zoq page.zot; do
    [ ! -f "$case_dir/$input" ] || cp -- "$case_dir/$input" "$dir/"
  done
  [ ! -f "$case_dir/args" ] || read -r -a args <"$case_dir/args"
  if [ -f "$case_dir/existing.php" ]; then
    cp -- "$case_dir/existing.php" "$dir/page.php"
  fi

  # With no php on its PATH, whatever this machine has: a page that the warnings say PHP will
  # not parse is then reported the same everywhere (what PHP says of it is tested in zoqc_test).
  (cd -- "$dir" && PATH="$scratch/no-php" exec "$zoqc" "${args[@]}" page) \
    >"$scratch/stdout" 2>"$scratch/stderr"
  rc=$?
  # A missing input's note names the folder looked in, which is this run's scratch folder.
  local real_dir
  real_dir=$(cd -- "$dir" && pwd -P)
  sed -i "s|$real_dir|CASE|g" -- "$scratch/stderr"

  want_exit=$(tr -d '[:space:]' <"$case_dir/expected.exit")
  if [ "$rc" != "$want_exit" ]; then
    echo "  exit code $rc, expected $want_exit"
    ok=1
  fi
  tail -n +3 -- "$scratch/stdout" >"$scratch/console"
  if ! cmp -s -- "$scratch/console" "$case_dir/expected.out"; then
    echo "  console lines after the banner differ (got < > expected):"
    show_diff "$scratch/console" "$case_dir/expected.out"
    ok=1
  fi
  if [ -f "$case_dir/expected.err" ]; then
    if ! cmp -s -- "$scratch/stderr" "$case_dir/expected.err"; then
      echo "  standard error differs (got < > expected):"
      show_diff "$scratch/stderr" "$case_dir/expected.err"
      ok=1
    fi
  elif [ -s "$scratch/stderr" ]; then
    echo "  wrote to standard error:"
    sed 's/^/    /' "$scratch/stderr"
    ok=1
  fi

  if [ -f "$case_dir/expected.php" ]; then
    if [ ! -f "$dir/page.php" ]; then
      echo "  page.php was not written"
      ok=1
    elif ! cmp -s -- "$dir/page.php" "$case_dir/expected.php"; then
      echo "  page.php differs (got < > expected):"
      show_diff "$dir/page.php" "$case_dir/expected.php"
      ok=1
    elif [ "$lint" -eq 1 ] && ! php -l "$dir/page.php" >"$scratch/lint" 2>&1; then
      echo "  php -l rejects page.php:"
      sed 's/^/    /' "$scratch/lint"
      ok=1
    fi
  elif [ -f "$case_dir/existing.php" ]; then
    if ! cmp -s -- "$dir/page.php" "$case_dir/existing.php"; then
      echo "  the earlier page.php was changed or removed"
      ok=1
    fi
  elif [ -e "$dir/page.php" ]; then
    echo "  page.php was written, but the run must not write one"
    ok=1
  fi

  local name
  for name in "$dir"/* "$dir"/.[!.]* "$dir"/..?*; do
    [ -e "$name" ] || continue
    case ${name##*/} in
      page.zoq | page.zot | page.php) ;;
      *)
        echo "  left a file behind: ${name##*/}"
        ok=1
        ;;
    esac
  done
  return "$ok"
}

for case_dir in "$cases_dir"/*/; do
  case_dir=${case_dir%/}
  name=${case_dir##*/}
  dir="$scratch/$name"
  mkdir -- "$dir"
  if report=$(check_case "$case_dir" "$dir"); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    printf '%s\n' "$report"
  fi
  rm -rf -- "$dir"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
