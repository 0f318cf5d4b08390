#!/usr/bin/env bash
# The copy of a site's other files into the output folder (-r SRC -o OUT) through the binary:
# killed at any moment it leaves each file old or new; a source tree changed under it, links
# swapped in and out, never makes it write or remove outside OUT; under --watch added,
# changed, renamed and removed files follow, and a removed page leaves no emptied folder.
# Usage: run_mirror.sh ZOQC
set -uo pipefail
zoqc=$(realpath "$1")
work=$(mktemp -d /tmp/zoqc-mirror-XXXXXX)
watcher=
swapper=
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  [ -n "$swapper" ] && kill "$swapper" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=tests/check_lib.sh
source "$(dirname "$(realpath "$0")")/check_lib.sh"
cd "$work"
no_temporary() { [ -z "$(find www -name '.zoqc-*' ! -name .zoqc-written -print -quit)" ]; }

# --- kill -9 at any moment: the copy is the old file or the new one, never half of either.
mkdir -p src www
head -c 32000000 /dev/urandom >old.bin
head -c 32000000 /dev/urandom >new.bin
cp old.bin src/big.bin
"$zoqc" -q -r src -o www
check "the first copy" cmp -s old.bin www/big.bin
whole=1
for delay in 0.005 0.01 0.02 0.04 0.06 0.08 0.1 0.15; do
  cp old.bin src/big.bin && "$zoqc" -q -r src -o www
  cp new.bin src/big.bin
  "$zoqc" -q -r src -o www &
  pid=$!
  sleep "$delay"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  cmp -s old.bin www/big.bin || cmp -s new.bin www/big.bin || whole=0
done
check "kill -9: each copy old or new" [ $whole -eq 1 ]
# A kill between naming the copy and putting it in place leaves its temporary: the next run
# removes it.
"$zoqc" -q -r src -o www
check "kill -9: no temporary left after the next run" no_temporary
"$zoqc" -q -r src -o www
check "the run after: the new copy" cmp -s new.bin www/big.bin
rm -rf src www old.bin new.bin

# --- A source tree that changes while it is copied: folders and files swapped for links that
# lead out, all the time. Nothing outside www is written or removed; no link in www leads out.
mkdir -p src/lib outside
for i in $(seq 1 40); do echo "f$i" >"src/lib/f$i.php"; echo "o$i" >"outside/f$i.php"; done
echo 'body{}' >src/x.css
cp -r outside outside.before
(
  while :; do
    mv src/lib src/lib.real && ln -s "$work/outside" src/lib
    rm src/x.css && ln -s /etc/passwd src/x.css
    rm src/lib && mv src/lib.real src/lib
    rm src/x.css && echo 'body{}' >src/x.css
  done
) 2>/dev/null &
swapper=$!
for _ in $(seq 1 30); do "$zoqc" -q -r src -o www >/dev/null 2>&1; done
kill "$swapper"
wait "$swapper" 2>/dev/null
swapper=
check "changing tree: nothing outside www changed" diff -r outside.before outside
escaped=$(find www -type l -exec sh -c 'case $(readlink -f "$1") in "$2"/*) ;; *) echo "$1";; esac' _ {} "$work/www" \;)
check "changing tree: no link in www leads out ($escaped)" [ -z "$escaped" ]
check "changing tree: /etc/passwd never copied" [ -z "$(grep -rl '^root:' www)" ]
# Whatever it became, the next run puts it right.
rm -rf src/lib.real src/lib  # a link is removed, not followed
mkdir src/lib
for i in $(seq 1 40); do echo "f$i" >"src/lib/f$i.php"; done
rm -f src/x.css
echo 'body{}' >src/x.css
"$zoqc" -q -r src -o www >next.out 2>&1 || cat next.out
check "changing tree: the next run copies the site" cmp -s src/lib/f7.php www/lib/f7.php
rm -rf src www outside outside.before

# --- As a user who may not write a folder of the copy, or read a source: a failure for that
# file, named, and the rest copied (as root: as nobody, where permissions hold).
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  mkdir -p src/locked src/open www/locked
  echo a >src/locked/a.css
  echo b >src/open/b.css
  echo s >src/secret.txt
  chmod 600 src/secret.txt
  chmod -R a+rX "$work" && chmod 600 src/secret.txt
  chown -R nobody www
  chmod 555 www/locked
  cp "$zoqc" "$work/zoqc-copy"
  setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
    "$work/zoqc-copy" -q -r src -o www >locked.out 2>locked.err
  status=$?
  check "unprivileged: exit 217 (got $status)" [ $status -eq 217 ]
  check "unprivileged: the locked copy named" \
    grep -q 'EFCreateError : Unable to create file "www/locked/a.css"' locked.out
  check "unprivileged: the unreadable source named" grep -q 'www/secret.txt.*Permission denied' locked.err
  check "unprivileged: the rest copied" cmp -s src/open/b.css www/open/b.css
  check "unprivileged: nothing half made" [ ! -e www/secret.txt ] && no_temporary
  rm -rf src www "$work/zoqc-copy" locked.out locked.err
fi

# --- --watch: files follow within the same latency as pages.
mkdir -p src/blog src/css www
printf '<?php\n<<t<<1\n' >src/blog/post.zoq
printf '{t}\n' >src/blog/post.zot
echo 'a{}' >src/css/a.css
echo 'mine' >www/user.txt
"$zoqc" --watch --no-lint -r src -o www >watch.out 2>watch.err &
watcher=$!
# Waits up to 5 s for CONDITION.
within() {
  for _ in $(seq 1 100); do "$@" && return 0; sleep 0.05; done
  return 1
}
within grep -q '^watching' watch.out
check "watch: the first copy" cmp -s src/css/a.css www/css/a.css
echo 'b{}' >src/css/b.css
check "watch: an added file follows" within cmp -s src/css/b.css www/css/b.css
echo 'a{color:red}' >src/css/a.css
check "watch: a changed file follows" within cmp -s src/css/a.css www/css/a.css
mv src/css/b.css src/css/c.css
check "watch: a renamed file follows" within cmp -s src/css/c.css www/css/c.css
check "watch: its old name goes" within [ ! -e www/css/b.css ]
mkdir -p src/img/new
echo png >src/img/new/i.png
check "watch: a file in a new folder follows" within cmp -s src/img/new/i.png www/img/new/i.png
rm -r src/img
check "watch: a removed folder goes, with the folders zoqc made" within [ ! -e www/img ]
rm src/blog/post.zoq src/blog/post.zot
check "watch: a removed page leaves no emptied folder" within [ ! -e www/blog ]
check "watch: the user's file stays" grep -qx mine www/user.txt
kill "$watcher"
wait "$watcher" 2>/dev/null
watcher=

echo "mirror: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
