#!/usr/bin/env bash
# Runs zoqc --watch for real, as a user edits a site: changes a template in place and by
# renaming a new file over it, adds a page and a folder, saves a script a moment before its
# template, deletes a page, moves a folder out and makes it again, moves in a folder holding
# a link back up, and deletes the whole -r folder and makes it again. Each rebuild is awaited
# by its "PAGE: translated in N ms" line. Then it stops zoqc with SIGTERM and finds no
# temporary file left. Where php is, a page PHP cannot parse is refused (lint is on).
# Usage: tests/run_watch.sh ZOQC_BINARY
set -u
zoqc=$(realpath -e "${1:?usage: run_watch.sh ZOQC_BINARY}") || exit 2
scratch=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null; rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir -p src/blog/2024
printf '<?php\n<<t<<"a"\n' >src/index.zoq
printf '<p>{t}</p>\n' >src/index.zot
printf '<?php\n<<t<<"b"\n' >src/blog/2024/post.zoq
printf '<h1>{t}</h1>\n' >src/blog/2024/post.zot

fail() { echo "FAIL: $*"; cat log; exit 1; }
# Each wait ends as soon as its outcome is decided: the text came, zoqc ended, or (for a
# rebuild) the page's line came and the page does not hold the text. Its limit,
# ZOQC_WAIT_SECONDS (10 s), is several times the slowest wait of a clean run on a busy
# machine (about 1.5 s, the first build), so a fault fails in seconds and nothing hangs.
limit=${ZOQC_WAIT_SECONDS:-10}
# running: fails at once when zoqc has ended.
running() {
  [[ -z $pid ]] || kill -0 "$pid" 2>/dev/null && return
  wait "$pid"
  local status=$?
  pid=
  fail "zoqc --watch ended (status $status) while a change was awaited"
}
# holds FILE TEXT [COUNT]: FILE holds COUNT lines (default 1) with TEXT.
holds() { [[ $(grep -cF -- "$2" "$1" 2>/dev/null) -ge ${3:-1} ]]; }
# wait_for FILE TEXT [COUNT]: waits for FILE to hold COUNT lines with TEXT, looking every 20 ms.
wait_for() {
  local deadline=$((${EPOCHREALTIME/./} + limit * 1000000))
  until holds "$@"; do
    running
    ((${EPOCHREALTIME/./} < deadline)) || fail "$1 did not hold '$2' ${3:-1} times within $limit s"
    sleep 0.02
  done
}
# expect PAGE: notes how many rebuilds of PAGE the log shows, before a change to it.
# rebuilt PAGE FILE TEXT: waits for a new line "PAGE: translated in N ms" (failing at once on a
# new "PAGE: failed in"), then FILE must hold TEXT.
declare -A builds failures
expect() {
  builds[$1]=$(grep -cF -- "$1: translated in " log)
  failures[$1]=$(grep -cF -- "$1: failed in " log)
}
rebuilt() {
  local deadline=$((${EPOCHREALTIME/./} + limit * 1000000))
  until holds log "$1: translated in " $((${builds[$1]:-0} + 1)); do
    holds log "$1: failed in " $((${failures[$1]:-0} + 1)) && fail "$1 failed to rebuild"
    running
    ((${EPOCHREALTIME/./} < deadline)) || fail "$1 was not rebuilt within $limit s"
    sleep 0.02
  done
  holds "$2" "$3" || fail "$2 rebuilt without '$3'"
}
# page DIR NAME VALUE: writes the page NAME under DIR, script first.
page() { printf '<?php\n<<t<<"%s"\n' "$3" >"$1/$2.zoq" && printf '{t}\n' >"$1/$2.zot"; }

"$zoqc" --watch -r src -o www >log 2>&1 &
pid=$!
wait_for log "watching 2 pages in 3 folders"
grep -qF '<p><?php echo "a";?></p>' www/index.php || fail "first build"

expect src/index
printf '<p>{t} in place</p>\n' >src/index.zot                    # saved in place
rebuilt src/index www/index.php 'echo "a";?> in place</p>'
expect src/blog/2024/post
printf '<h1>{t} renamed</h1>\n' >src/blog/2024/.post.zot.swp     # saved by rename
mv src/blog/2024/.post.zot.swp src/blog/2024/post.zot
rebuilt src/blog/2024/post www/blog/2024/post.php 'echo "b";?> renamed</h1>'
printf '<?php\n<<t<<"bad\n<<x y\n' >src/index.zoq                # an error: watching goes on
wait_for log "Error(2):need <<"
wait_for log "src/index: failed in "
if command -v php >/dev/null 2>&1; then                          # lint is on where php is
  printf '<?php\n$x = ;\n<<t<<"a"\n' >src/index.zoq
  wait_for log "src/index.zoq:2:1: error: PHP cannot parse the page"
fi
mkdir src/new && page src/new page c                             # a new folder with a page
rebuilt src/new/page www/new/page.php 'echo "c";?>'

# A script saved a moment before its template is one rebuild, not a missing template first.
printf '<?php\n<<t<<"d"\n' >src/late.zoq
sleep 0.05
printf '{t}\n' >src/late.zot
rebuilt src/late www/late.php 'echo "d";?>'
grep -qF 'Error(1)' log && fail "a missing template reported before it came"

# A page deleted: the page zoqc wrote for it under -o goes too, and the line says so.
rm src/late.zoq src/late.zot
wait_for log "src/late: gone, no longer watched; removed www/late.php"
[[ -e www/late.php ]] && fail "www/late.php left behind"
# ... but only a page zoqc wrote: an old page whose script never translated stays.
printf 'old\n' >www/stale.php
printf '<?php\n<<x y\n' >src/stale.zoq && printf '\n' >src/stale.zot
wait_for log "src/stale: failed in "
rm src/stale.zoq src/stale.zot
wait_for log "src/stale: gone, no longer watched"
[[ $(cat www/stale.php) == old ]] || fail "a page zoqc did not write was removed"

# A folder with a subfolder moved out of the tree: its page is gone; made again, it is back.
mv src/blog blog-moved
wait_for log "src/blog/2024/post: gone, no longer watched"
expect src/blog/2024/post
mkdir -p src/blog/2024 && page src/blog/2024 post e
rebuilt src/blog/2024/post www/blog/2024/post.php 'echo "e";?>'
expect src/blog/2024/post
printf '<?php\n<<t<<"f"\n' >src/blog/2024/post.zoq
rebuilt src/blog/2024/post www/blog/2024/post.php 'echo "f";?>'

# A folder holding a link back up moved in: the tree is still the tree that -r lists.
mkdir loop && page loop p g && ln -s .. loop/up && mv loop src/loop
rebuilt src/loop/p www/loop/p.php 'echo "g";?>'
expect src/index
printf '<?php\n<<t<<"h"\n' >src/index.zoq
rebuilt src/index www/index.php 'echo "h";?>'
# (Under -o the link itself is made again in www, as a link.)
[[ -e www/loop/up && ! -L www/loop/up ]] && fail "the link back up was followed"

# The -r folder deleted and made again: watching says so, and takes it up again.
rm -rf src
wait_for log "src: folder gone, waiting for it to come back"
expect src/index
mkdir src && page src index i
wait_for log "src: folder back"
rebuilt src/index www/index.php 'echo "i";?>'
expect src/index
printf '<?php\n<<t<<"j"\n' >src/index.zoq
rebuilt src/index www/index.php 'echo "j";?>'

kill -TERM "$pid"
for ((tries = 0; tries < limit * 50; tries++)); do   # SIGTERM ends it at once: no hang
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.02
done
kill -0 "$pid" 2>/dev/null && fail "still running $limit s after SIGTERM"
wait "$pid"
status=$?
pid=
[[ $status -eq 143 ]] || fail "ended with $status, not by SIGTERM"
leftover=$(find . -name '.zoqc-*')
[[ -z $leftover ]] || fail "temporary files left: $leftover"
echo "watch mode: all checks passed"
