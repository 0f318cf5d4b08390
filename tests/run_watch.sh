#!/usr/bin/env bash
# Runs zoqc --watch for real: changes a template in place and by renaming a new file over it,
# adds a page, and sees each page change (and, where php is, a page PHP cannot parse refused);
# then stops it with SIGTERM and finds no temporary file left.
# Usage: tests/run_watch.sh ZOQC_BINARY
set -u
zoqc=$(realpath -e "${1:?usage: run_watch.sh ZOQC_BINARY}") || exit 2
scratch=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null; rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir -p src/blog
printf '<?php\n<<t<<"a"\n' >src/index.zoq
printf '<p>{t}</p>\n' >src/index.zot
printf '<?php\n<<t<<"b"\n' >src/blog/post.zoq
printf '<h1>{t}</h1>\n' >src/blog/post.zot

fail() { echo "FAIL: $*"; cat log; exit 1; }
# wait_for FILE TEXT: up to five seconds for FILE to hold TEXT.
wait_for() {
  for _ in $(seq 100); do
    grep -qF "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "$1 never held '$2'"
}

"$zoqc" --watch -r src -o www >log 2>&1 &
pid=$!
wait_for log "watching 2 pages in 2 folders"
grep -qF '<p><?php echo "a";?></p>' www/index.php || fail "first build"

printf '<p>{t} in place</p>\n' >src/index.zot                    # saved in place
wait_for www/index.php 'echo "a";?> in place</p>'
printf '<h1>{t} renamed</h1>\n' >src/blog/.post.zot.swp          # saved by rename
mv src/blog/.post.zot.swp src/blog/post.zot
wait_for www/blog/post.php 'echo "b";?> renamed</h1>'
printf '<?php\n<<t<<"bad\n<<x y\n' >src/index.zoq                # an error: watching goes on
wait_for log "Error(2):need <<"
if command -v php >/dev/null 2>&1; then                          # lint is on where php is
  printf '<?php\n$x = ;\n<<t<<"a"\n' >src/index.zoq
  wait_for log "src/index.zoq:2:1: error: PHP cannot parse the page"
fi
mkdir src/new && printf '{t}\n' >src/new/page.zot && printf '<?php\n<<t<<"c"\n' >src/new/page.zoq
wait_for www/new/page.php 'echo "c";?>'

kill -TERM "$pid"
wait "$pid"
status=$?
pid=
[[ $status -eq 143 ]] || fail "ended with $status, not by SIGTERM"
leftover=$(find . -name '.zoqc-*')
[[ -z $leftover ]] || fail "temporary files left: $leftover"
echo "watch mode: all checks passed"
