#!/usr/bin/env bash
# Runs a Windows zoqc.exe under wine: the golden cases, the example pages, and what only
# Windows has: "\" and drive-relative names, non-ASCII names, CR LF console lines, a console
# that shows UTF-8, and replacing a page that cannot be replaced.
#
#   bash tests/run_wine.sh ZOQC_EXE [NATIVE_ZOQC]
#
# Every console line must end in CR LF. With NATIVE_ZOQC the example pages must also be the
# same bytes as the native build writes. Wine keeps its files in a folder beside ZOQC_EXE.
set -u

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 ZOQC_EXE [NATIVE_ZOQC]"
  exit 2
fi
exe=$(realpath -e "$1") || exit 2
native=
if [ $# -eq 2 ]; then native=$(realpath -e "$2") || exit 2; fi
command -v wine >/dev/null 2>&1 || { echo "wine not found"; exit 2; }
tests=$(cd -- "$(dirname -- "$0")" && pwd)

exec </dev/null  # wine and script want a standard input, and CI may have none
# A wine prefix of our own, beside zoqc.exe: its server is ended with this script.
export WINEPREFIX=$(dirname "$exe")/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 2; }
fi
# One wine server for all the runs, ended with the script.
wineserver -p
scratch=$(mktemp -d) || exit 2
trap 'wineserver -k; rm -rf -- "$scratch"' EXIT

# zoqc for the Unix runners: runs zoqc.exe under wine and gives its console lines back with LF
# ends, standard output and standard error alike; a line that did not end in CR LF adds a line
# that makes the comparison fail.
wrapper=$scratch/zoqc
cat >"$wrapper" <<EOF
#!/usr/bin/env bash
out=\$(mktemp)
err=\$(mktemp)
wine "$exe" "\$@" >"\$out" 2>"\$err"
rc=\$?
# lf FILE: FILE's lines with LF ends, and a complaint for a line without CR LF.
lf() {
  sed 's/\r\$//' "\$1"
  if grep -q -v \$'\\r\$' "\$1"; then echo "(lines without CR LF)"; fi
}
lf "\$out"
lf "\$err" >&2
rm -f -- "\$out" "\$err"
exit \$rc
EOF
chmod +x "$wrapper"

failed=0
fail() {
  echo "FAIL $*"
  failed=$((failed + 1))
}

echo "== golden cases"
bash "$tests/run_golden.sh" "$wrapper" || fail "golden cases"
echo "== example pages"
bash "$tests/run_examples.sh" "$wrapper"
case $? in 0 | 77) ;; *) fail "example pages" ;; esac
if [ -n "$native" ]; then
  for script in "$tests"/../examples/*/*.zoq; do
    name=$(basename "$script" .zoq)
    for build in native windows; do
      mkdir -p "$scratch/$build"
      cp -- "${script%.zoq}.zoq" "${script%.zoq}.zot" "$scratch/$build/"
    done
    (cd "$scratch/native" && "$native" -q "$name" >/dev/null)
    (cd "$scratch/windows" && "$wrapper" -q "$name" >/dev/null)
    cmp -s "$scratch/native/$name.php" "$scratch/windows/$name.php" ||
      fail "example $name: the page differs from the native build's"
  done
fi

# The file layer's own checks, when they were built beside zoqc.exe.
check_exe=$(dirname "$exe")/zoqc_windows_files_check.exe
if [ -f "$check_exe" ]; then
  echo "== file layer"
  mkdir "$scratch/files"
  (cd "$scratch/files" && wine "$check_exe") || fail "file layer"
fi

echo "== names, failures and the console"
case_dir=$tests/cases/overview_crlf  # a page, its template and the page they make
success=$'Compile sucessful.'

# check NAME DIR EXIT LINES ARG...: runs zoqc ARG... in DIR; the exit code must be EXIT, the
# console lines after the banner LINES, and standard error $want_err (none unless it is set).
want_err=
check() {
  local name=$1 dir=$2 want_exit=$3 want_lines=$4 rc
  shift 4
  (cd -- "$dir" && "$wrapper" "$@") >"$scratch/out" 2>"$scratch/err"
  rc=$?
  [ "$rc" = "$want_exit" ] || fail "$name: exit code $rc, expected $want_exit"
  [ "$(tail -n +3 "$scratch/out")" = "$want_lines" ] ||
    { fail "$name: console lines:"; cat -A "$scratch/out"; }
  [ "$(cat "$scratch/err")" = "$want_err" ] ||
    { fail "$name: standard error:"; cat -A "$scratch/err"; }
}
# check_failure NAME DIR LINE ARG...: runs zoqc ARG... in DIR; it must end with exit code 217,
# a failure report whose kind and message are LINE, and the system's reason on standard error.
check_failure() {
  local name=$1 dir=$2 want_line=$3 rc
  shift 3
  (cd -- "$dir" && "$wrapper" "$@") >"$scratch/out" 2>"$scratch/err"
  rc=$?
  [ "$rc" = 217 ] || fail "$name: exit code $rc, expected 217"
  [[ "$(sed -n 3p "$scratch/out")" == 'An unhandled exception occurred at $'* ]] &&
    [ "$(sed -n 4p "$scratch/out")" = "$want_line" ] ||
    { fail "$name: console lines:"; cat -A "$scratch/out"; }
  grep -q "^zoqc: cannot create '.*': ." "$scratch/err" ||
    { fail "$name: no reason on standard error:"; cat -A "$scratch/err"; }
}
# page DIR BASE: puts the case's script and template in DIR as BASE.zoq and BASE.zot.
page() {
  mkdir -p -- "$1"
  cp -- "$case_dir/page.zoq" "$1/$2.zoq"
  cp -- "$case_dir/page.zot" "$1/$2.zot"
}
# same_page NAME FILE: FILE must be the page the case expects.
same_page() { cmp -s -- "$2" "$case_dir/expected.php" || fail "$1: $2 is not the expected page"; }
# no_leftovers NAME DIR: DIR holds no temporary file.
no_leftovers() {
  if compgen -G "$2/.zoqc-*" >/dev/null; then fail "$1: left a temporary file in $2"; fi
}

dir=$scratch/names
page "$dir/site.d" hello
page "$dir" café
page "$dir/site.d" страница
check 'backslash' "$dir" 0 "$success" 'site.d\hello'
same_page 'backslash' "$dir/site.d/hello.php"
rm -f "$dir/site.d/hello.php"
check 'slash' "$dir" 0 "$success" 'site.d/hello.zoq'
same_page 'slash' "$dir/site.d/hello.php"
check 'non-ASCII names' "$dir" 0 "$success" café
check 'non-ASCII names' "$dir" 0 "$success" 'site.d\страница'
same_page 'non-ASCII names' "$dir/café.php"
same_page 'non-ASCII names' "$dir/site.d/страница.php"
want_err=$'zoqc: cannot find the script \'site.d\\нет.zoq\'\nzoqc: cannot find the template \'site.d\\нет.zot\'\n'"zoqc: note: looked in '$(winepath -w "$dir/site.d")'" \
  check 'missing non-ASCII name' "$dir" 1 \
  'Error(1):site.d\нет.zoq and site.d\нет.zot file not found' 'site.d\нет'
mkdir "$dir/folder.zoq"
cp -- "$case_dir/page.zot" "$dir/folder.zot"
want_err="zoqc: the script 'folder.zoq' is a directory"$'\n'"zoqc: note: looked in '$(winepath -w "$dir")'" \
  check 'folder named like the script' "$dir" 1 \
  'Error(1):folder.zoq and folder.zot file not found' folder

# "C:hello" names hello in the current folder of drive C, which is this folder when wine's
# current folder is inside drive C.
dir=$WINEPREFIX/drive_c/zoqc-test
rm -rf -- "$dir"
page "$dir" hello
check 'drive-relative name' "$dir" 0 "$success" 'C:hello'
same_page 'drive-relative name' "$dir/hello.php"
want_err=$'zoqc: cannot find the script \'C:nope.zoq\'\nzoqc: cannot find the template \'C:nope.zot\'\nzoqc: note: looked in \'C:\\zoqc-test\'' \
  check 'missing drive-relative name' "$dir" 1 \
  'Error(1):C:nope.zoq and C:nope.zot file not found' 'C:nope.txt'
no_leftovers 'drive-relative name' "$dir"
rm -rf -- "$dir"

dir=$scratch/failures
page "$dir" held
page "$dir" readonly
page "$dir" folder
printf 'old page\r\n' >"$dir/held.php"
printf 'old page\r\n' >"$dir/readonly.php"
chmod a-w "$dir/readonly.php"
mkdir "$dir/folder.php"
check_failure 'read-only page' "$dir" 'EFCreateError : Unable to create file "readonly.php"' readonly
check_failure 'page that is a folder' "$dir" 'EFCreateError : Unable to create file "folder.php"' folder
# cmd holds held.php open as zoqc's standard input, which zoqc never reads, while zoqc runs, so
# the finished page cannot be moved over it.
(cd "$dir" && wine cmd /c "$(winepath -w "$exe") held <held.php") >"$scratch/out" 2>/dev/null
rc=$?
[ "$rc" = 217 ] && [ "$(sed -n 4p "$scratch/out")" = $'EWriteError : Stream write error\r' ] ||
  { fail "page held open: exit code $rc, console lines:"; cat -A "$scratch/out"; }
for name in held readonly; do
  [ "$(cat "$dir/$name.php")" = $'old page\r' ] || fail "$name: the old page was changed"
done
no_leftovers 'failed writes' "$dir"

# On a console the UTF-8 name shows as its letters (the terminal here takes UTF-8).
dir=$scratch/console
mkdir -p "$dir"
(cd "$dir" && script -qec "wine '$exe' страница" /dev/null) >"$scratch/out" 2>&1
grep -q 'Error(1):страница.zoq and страница.zot file not found' "$scratch/out" ||
  { fail "console: the name does not show as its letters:"; cat -A "$scratch/out"; }

# The batch file of the README translates every page below its folder.
dir=$scratch/batch
page "$dir" one
page "$dir/sub folder" two
cp -- "$tests/cases/error2_opener_at_end/page.zoq" "$tests/cases/error2_opener_at_end/page.zot" \
  "$dir/sub folder/"
cp -- "$exe" "$dir/zoqc.exe"
printf '@echo off\r\nfor /r %%%%f in (*.zoq) do @zoqc -q "%%%%f"\r\n' >"$dir/pages.bat"
(cd "$dir" && wine cmd /c pages.bat) >"$scratch/out" 2>/dev/null
[ "$(cat "$scratch/out")" = $'Error(2):need <<\r' ] ||
  { fail "batch file: console lines:"; cat -A "$scratch/out"; }
same_page 'batch file' "$dir/one.php"
same_page 'batch file' "$dir/sub folder/two.php"

# --lint is refused on Windows, saying why (docs/WINDOWS.md): zoqc runs no PHP there.
dir=$scratch/lint
page "$dir" page
want_err="zoqc: --lint is not available on Windows: lint the pages with a Linux or WSL zoqc, or with 'php -l' on each page"
check '--lint' "$dir" 2 '' --lint page
want_err=
[ ! -e "$dir/page.php" ] || fail "--lint: a page was written"

(cd "$scratch" && "$wrapper") >"$scratch/out"
rc=$?
[ "$rc" = 0 ] && [ "$(wc -l <"$scratch/out")" = 14 ] && [ "$(sed -n 3p "$scratch/out")" = Usage: ] ||
  { fail "usage: exit code $rc, console lines:"; cat -A "$scratch/out"; }

if [ "$failed" -eq 0 ]; then echo "all wine checks passed"; else echo "$failed wine checks failed"; fi
[ "$failed" -eq 0 ]
