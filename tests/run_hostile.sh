#!/usr/bin/env bash
# Runs zoqc on hostile files, signals and limits, and checks that it never hangs, never dies
# by an unexpected signal, never leaves a temporary file, and leaves the old page as it was
# whenever it fails. Usage: run_hostile.sh ZOQC [--plain]
# (--plain, for the release build, which runs the slow part once: signals at the moment the
# temporary has its name, address space limits, which cannot run under ASan, and a long script
# of a million lines instead of 100,000).
set -uo pipefail
zoqc=$(realpath "$1")
plain=${2:-}
work=$(mktemp -d /tmp/zoqc-hostile-XXXXXX)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/check_lib.sh
source "$(dirname "$(realpath "$0")")/check_lib.sh"
cd "$work"
no_temporary() { [ -z "$(find . -name '.zoqc-*' -print -quit)" ]; }
# A fresh page directory with old page contents; cd into it.
fresh() {
  rm -rf "$work/d"
  mkdir "$work/d"
  cd "$work/d"
  printf 'old page\r\n' >p.php
}
old_page() { [ "$(cat p.php)" = $'old page\r' ]; }

# --- Inputs that are not regular files fail at once, naming the file and why.
fresh
mkfifo p.zoq
printf 'x' >p.zot
timeout 10 "$zoqc" p >out 2>err
status=$?
check "FIFO script: exit 217 without waiting (got $status)" [ $status -eq 217 ]
check "FIFO script: EFOpenError" grep -qx 'EFOpenError : Unable to open file "p.zoq"' out
check "FIFO script: the banner is printed" grep -q 'compiler verion' out
check "FIFO script: the reason on stderr" grep -q 'p.zoq.*FIFO' err
check "FIFO script: old page kept" old_page

fresh
printf '<?php\r\n' >p.zoq
mkfifo p.zot
timeout 10 "$zoqc" p >out 2>err
check "FIFO template: exit 217" [ $? -eq 217 ]
check "FIFO template: EFOpenError" grep -qx 'EFOpenError : Unable to open file "p.zot"' out

fresh
ln -s /dev/zero p.zoq
printf 'x' >p.zot
# Under a memory limit where that is possible (not under ASan), so that a regression fails
# fast instead of filling the machine's memory.
(if [ "$plain" = --plain ]; then ulimit -v 1000000; fi && timeout 10 "$zoqc" p >out 2>err)
check "/dev/zero script: exit 217 without reading it" [ $? -eq 217 ]
check "/dev/zero script: EFOpenError and why" grep -q 'character device' err
check "/dev/zero script: old page kept" old_page

# --- Console failures: a full standard output is said on standard error, exit 217.
fresh
printf '<?php\r\n' >p.zoq
printf 'x' >p.zot
"$zoqc" p >/dev/full 2>err
check "full stdout: exit 217" [ $? -eq 217 ]
check "full stdout: said on stderr" grep -q 'cannot write to standard output' err
check "full stdout: the page is written" grep -q x p.php

# A closed standard output: "zoqc p | true" (the reader is gone before zoqc writes).
fresh
printf '<?php\r\n' >p.zoq
printf 'x' >p.zot
{ sleep 0.3; "$zoqc" p 2>err; echo $? >status; } | true
check "closed stdout: exit 217, not death by SIGPIPE (got $(cat status))" [ "$(cat status)" = 217 ]
check "closed stdout: said on stderr" grep -q 'cannot write to standard output' err

# --explain in a pipe whose reader goes: "yes LOCATION | zoqc --explain | head -1" ends.
fresh
printf '<?php\r\n<<t<<1\r\n' >p.zoq
printf '{t}\r\n' >p.zot
"$zoqc" -q p
{ yes 'x in p.php on line 2' | timeout 20 "$zoqc" --explain 2>err; echo $? >status; } | head -1 >out
check "--explain | head -1: ends once head is gone, exit 217 (got $(cat status))" \
  [ "$(cat status)" = 217 ]
check "--explain | head -1: the first line mapped" grep -q "^x in p.php on line 2 \[p.zoq:2:[0-9]*\]$" out

# --- The file size limit: SIGXFSZ is handled by zoqc itself (bash resets it for its children).
fresh
printf '<?php\r\n' >p.zoq
head -c 100000 /dev/zero | tr '\0' t >p.zot
(ulimit -f 16 && "$zoqc" p >out 2>err)
status=$?
check "file size limit: exit 217 (got $status)" [ $status -eq 217 ]
check "file size limit: EWriteError" grep -qx 'EWriteError : Stream write error' out
check "file size limit: the reason" grep -q 'File too large' err
check "file size limit: old page kept" old_page
check "file size limit: no temporary" no_temporary

# --- Bytes of every value pass through unchanged; a very long script translates.
fresh
printf '<?php\r\n' >p.zoq
for _ in 1 2 3; do printf "$(printf '\\%03o' $(seq 0 255))"; done >p.zot
"$zoqc" p >out 2>&1
check "every byte value: success" grep -q 'Compile sucessful.' out
check "every byte value: template unchanged" cmp -s <(tail -c 768 p.php) p.zot

fresh
lines=100000
[ "$plain" = --plain ] && lines=1000000
{
  printf '<?php\n<<*b\n'
  awk -v n=$lines 'BEGIN { for (i = 0; i < n; i++) printf (i % 2 ? "<<v%d<<$v%d\n" : "<<<w%d<<$w%d\n"), i, i }'
  printf '<<+b\n'
} >p.zoq
printf '{v1}<!--BEGIN b-->{w0}<!--END b-->\r\n{v%d}\n' $((lines - 1)) >p.zot
start=$(date +%s)
"$zoqc" p >out 2>&1
check "$lines statement lines: success in $(($(date +%s) - start)) s" grep -q 'Compile sucessful.' out
check "$lines statement lines: substituted" \
  grep -q "^<?php echo [$]v$((lines - 1));?>\$" p.php
check "$lines statement lines: the block" grep -q '^<?php echo [$]v1;?><?php echo [$]ZOQBLOCK_b;?>' p.php

# --- A signal that whoever started zoqc ignores (nohup, a hang-up) stays ignored.
fresh
printf '<?php\r\n' >p.zoq
printf 'x' >p.zot
(trap '' HUP && exec "$zoqc" --watch p) >out 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q '^watching' out && break
  sleep 0.05
done
kill -HUP "$pid"
sleep 0.2
check "HUP ignored by the caller: still running" kill -0 "$pid"
kill -TERM "$pid"
wait "$pid" 2>/dev/null

# --- The fsync of the temporary comes before the rename that puts it in place.
if command -v strace >/dev/null 2>&1 && strace -o /dev/null true 2>/dev/null; then
  can_trace=1
  fresh
  printf '<?php\r\n' >p.zoq
  printf 'x' >p.zot
  strace -f -o trace -e trace=fsync,fdatasync,rename,renameat,renameat2 "$zoqc" p >out 2>&1
  sync_line=$(grep -n 'fsync(' trace | head -1 | cut -d: -f1)
  rename_line=$(grep -n 'rename.*"p.php"' trace | head -1 | cut -d: -f1)
  check "fsync before rename (fsync at line ${sync_line:-none}, rename at ${rename_line:-none})" \
    [ -n "$sync_line" ] && [ -n "$rename_line" ] && [ "$sync_line" -lt "$rename_line" ]

fi
if [ "$plain" = --plain ] && [ -n "${can_trace:-}" ]; then
  # --- A signal while the temporary has its name: removed, the process ends by the signal.
  # strace holds zoqc just after naming the temporary, so that the signal lands there. The hold
  # starts short and grows only when the signal came after it (the page was renamed into place).
  for sig in INT TERM HUP QUIT PIPE; do
    for hold in 200000 800000 3200000; do  # microseconds
      fresh
      printf '<?php\r\n' >p.zoq
      head -c 3000000 /dev/zero | tr '\0' t >p.zot
      # Background jobs of a script start with INT and QUIT ignored, and zoqc keeps what it was
      # given ignored: give it the default.
      env --default-signal=INT,QUIT strace -f -o trace -e trace=linkat,renameat,rename \
        -e inject=linkat,renameat,rename:delay_exit=$hold "$zoqc" p >out 2>&1 &
      tracer=$!
      for _ in $(seq 1000); do
        [ -n "$(find . -name '.zoqc-*' -print -quit)" ] && break
        sleep 0.01
      done
      had_temporary=$(find . -name '.zoqc-*' | wc -l)
      pid=$(awk 'NR == 1 { print $1 }' trace)
      kill -s "$sig" "$pid"
      { wait $tracer; } 2>/dev/null
      status=$?
      [ "$had_temporary" -eq 1 ] && ! grep -q 'rename.*"p.php"' trace && break
    done
    check "SIG$sig: a named temporary to remove" [ "$had_temporary" -eq 1 ]
    check "SIG$sig: ends by the signal (got $status)" [ $status -eq $((128 + $(kill -l "$sig"))) ]
    check "SIG$sig: temporary removed" no_temporary
    check "SIG$sig: old page kept" old_page
  done

  # SIGKILL while the temporary is written and flushed: it has no name, so nothing is left.
  # SIGKILL ends zoqc at once, held or not; strace, which would sit out its hold deaf to all
  # but SIGKILL, is then killed too.
  fresh
  printf '<?php\r\n' >p.zoq
  printf 'x' >p.zot
  strace -f -o trace -e trace=fsync -e inject=fsync:delay_enter=30s "$zoqc" p >out 2>&1 &
  tracer=$!
  for _ in $(seq 1000); do grep -q fsync trace 2>/dev/null && break; sleep 0.01; done
  kill -s KILL "$(awk 'NR == 1 { print $1 }' trace)"
  kill -s KILL $tracer
  { wait $tracer; } 2>/dev/null
  check "SIGKILL: nothing left" [ "$(ls -A | sort | tr '\n' ' ')" = "out p.php p.zoq p.zot trace " ]
  check "SIGKILL: old page kept" old_page

  # SIGKILL while a site's pages wait, named, to be put in place together: the next run removes
  # what the killed one left at once, but never a temporary whose writer still runs.
  fresh
  mkdir site
  for n in 1 2 3; do printf '<?php\n<<a<<%s\n' $n >site/p$n.zoq && printf '{a}\n' >site/p$n.zot; done
  strace -f -o trace -e trace=rename,renameat,renameat2 \
    -e inject=rename,renameat,renameat2:delay_enter=30s "$zoqc" -r site >out 2>&1 &
  tracer=$!
  for _ in $(seq 1000); do [ -n "$(find site -name '.zoqc-*' -print -quit)" ] && break; sleep 0.01; done
  killed=$(pgrep -P $tracer)  # the trace's first line may be a thread's, ended since
  kill -s KILL "$killed"
  kill -s KILL $tracer
  { wait $tracer; } 2>/dev/null
  for _ in $(seq 500); do kill -0 "$killed" 2>/dev/null || break; sleep 0.01; done  # reaped
  left=$(find site -name '.zoqc-*' | head -1)
  check "SIGKILL of a site: its named temporaries left (${left:-none})" [ -n "$left" ]
  if [ -n "$left" ]; then
    sleep 60 &
    alive=$!
    name=${left##*/}
    live=site/${name:0:14}$(printf %08x $alive)${name:22}  # the same, of a run that lives
    printf x >"$live"
    "$zoqc" -r site >out 2>&1
    check "SIGKILL of a site: the next run removed its temporaries, not a live run's" \
      [ "$(find site -name '.zoqc-*' | tr '\n' ' ')" = "$live " ]
    kill $alive
  fi

  # SIGKILL between naming the record of copies (-o), or a copied file, and putting it in
  # place: the next run removes what the killed one left.
  for when in 1 2; do
    fresh
    mkdir -p site/sub
    printf 'old' >site/sub/a.txt
    strace -f -o trace -e trace=rename,renameat,renameat2 \
      -e inject=rename,renameat,renameat2:delay_enter=30s:when=$when "$zoqc" -r site -o www \
      >out 2>&1 &
    tracer=$!
    left() { find www -name '.zoqc-*' ! -name .zoqc-written 2>/dev/null; }
    for _ in $(seq 1000); do [ -n "$(left)" ] && break; sleep 0.01; done
    killed=$(pgrep -P $tracer)
    kill -s KILL "$killed"
    kill -s KILL $tracer
    { wait $tracer; } 2>/dev/null
    for _ in $(seq 500); do kill -0 "$killed" 2>/dev/null || break; sleep 0.01; done
    check "SIGKILL of a copy ($when): its named temporary left ($(left))" [ -n "$(left)" ]
    printf 'new' >site/sub/a.txt
    "$zoqc" -r site -o www >out 2>&1
    check "SIGKILL of a copy ($when): the next run removed it and copied the file" \
      [ -z "$(left)" -a "$(cat www/sub/a.txt)" = new ]
  done
fi
if [ -z "${can_trace:-}" ]; then
  echo "strace cannot trace here: fsync order and signal tests skipped"
fi

# --- Out of memory at every tight limit ends in the report and 217, never in an abort. The
# edges are found by bisection (the limit below which zoqc cannot start, and for each page the
# limit from which it translates); the runs that matter most, just below an edge, are then
# made finely.
if [ "$plain" = --plain ]; then
  fresh
  printf '<?php\r\n<<a<<1\r\n' >p.zoq
  # starts KB: zoqc starts at all under the limit. Below the floor the loader (or, in a static
  # build, the C library's start-up) fails before any of zoqc's own code runs.
  starts() { { (ulimit -v "$1" && "$zoqc" --version >/dev/null 2>&1); } 2>/dev/null; }
  reports=0 runs=0
  # run_at KB: one run under the limit; exit 0 with the page, or the report with the old page.
  # Succeeds when the page was translated.
  run_at() {
    printf 'old page\r\n' >p.php
    (ulimit -v "$1" && "$zoqc" p >out 2>err)
    local status=$?
    runs=$((runs + 1))
    case $status in
      0) grep -q 'Compile sucessful.' out || fail "limit $1 KB: exit 0 without success" ;;
      217)
        grep -qx 'EOutOfMemory : Out of memory' out || fail "limit $1 KB: 217 without report"
        old_page || fail "limit $1 KB: page changed"
        reports=$((reports + 1))
        ;;
      *) fail "limit $1 KB: exit $status: $(head -c 200 err)" ;;
    esac
    [ $status -eq 0 ]
  }
  # edge PREDICATE LOW HIGH: sets found to the lowest limit in (LOW, HIGH], to 10 KB, at which
  # PREDICATE holds, when it fails at LOW and holds at HIGH.
  edge() {
    local low=$2 high=$3 mid
    while [ $((high - low)) -gt 10 ]; do
      mid=$(((low + high) / 2))
      if "$1" "$mid"; then high=$mid; else low=$mid; fi
    done
    found=$high
  }
  edge starts 100 20000
  floor=$found
  # A tiny page: every limit from the floor to where it translates, the band where the process
  # runs but the run state cannot be made.
  printf '{a}\r\n' >p.zot
  edge run_at "$floor" $((floor + 1000))
  tiny=$found
  for kb in $(seq "$floor" 10 "$tiny"); do run_at "$kb"; done
  # A page whose translation needs some megabytes more than starting does: limits at 10, 20,
  # 40 ... KB below where it translates, so that each of its large allocations fails in turn.
  yes '{a}' | head -n 300000 | tr -d '\n' >p.zot
  edge run_at "$floor" $((floor + 24000))
  big=$found
  for step in 10 20 40 80 160 320 640 1280 2560 5120; do
    [ $((big - step)) -gt "$floor" ] && run_at $((big - step))
  done
  check "limits ran out of memory ($reports of $runs runs; floor $floor KB, pages at $tiny and $big KB)" \
    [ $reports -gt 0 ] && [ "$tiny" -le $((floor + 1000)) ] && [ "$big" -le $((floor + 24000)) ]
  check "memory limits: no temporary" no_temporary
fi

# --- A low limit on open files makes a run slower, never failed: 200 pages under 'ulimit -n 48'
# (soft and hard), then with --lint and 40 threads asked for.
fresh
mkdir site
for i in $(seq 200); do
  printf '<?php\n<<a<<%d\n' "$i" >"site/p$i.zoq"
  printf '{a}\n' >"site/p$i.zot"
done
(ulimit -n 48 && "$zoqc" -q -r site >out 2>err)
check "ulimit -n 48: 200 pages written (exit $?, $(ls site/*.php | wc -l) pages)" \
  [ "$(ls site/*.php | wc -l)" -eq 200 ]
if php -r 'exit(0);' 2>/dev/null; then
  rm -f site/*.php
  (ulimit -n 48 && "$zoqc" -q --lint -j 40 -r site >out 2>err)
  check "ulimit -n 48, --lint -j 40: 200 pages written (exit $?, $(head -c 200 err))" \
    [ "$(ls site/*.php | wc -l)" -eq 200 ]
fi

# --- A signal that ends a --lint run ends its php too: a php that answers the first (empty)
# page, then takes the next and never answers, is gone once zoqc is.
fresh
printf '#!/bin/sh\necho $$ >php.pid\nread size\necho ok\nexec sleep 60\n' >slowphp
chmod +x slowphp
printf '<?php\n<<a<<1\n' >p.zoq
printf '{a}\n' >p.zot
"$zoqc" -q --lint --php="$PWD/slowphp" p >out 2>err &
pid=$!
for _ in $(seq 50); do [ -s php.pid ] && break; sleep 0.1; done
sleep 0.3
kill -TERM $pid
wait $pid
php_gone() {
  for _ in $(seq 20); do kill -0 "$(cat php.pid)" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}
check "SIGTERM during --lint: its php ended with it" php_gone
kill -KILL "$(cat php.pid)" 2>/dev/null
# ... and so does SIGKILL, which zoqc cannot handle: its php dies with it, on the first page of
# a run and on a page of a site whose php a thread that has ended started.
mkdir site && for n in $(seq 40); do cp p.zoq site/p$n.zoq && cp p.zot site/p$n.zot; done
for run in "p" "-j 4 -r site"; do
  rm -f php.pid
  # shellcheck disable=SC2086
  "$zoqc" -q --lint --php="$PWD/slowphp" $run >out 2>err &
  pid=$!
  for _ in $(seq 50); do [ -s php.pid ] && break; sleep 0.1; done
  sleep 0.3
  kill -KILL $pid
  wait $pid 2>/dev/null
  check "SIGKILL during --lint ($run): its php ended with it" php_gone
  kill -KILL "$(cat php.pid)" 2>/dev/null
done

# --- The language server out of memory: a request too large for what is left is answered with
# an error and the server goes on; standard output carries nothing but the protocol.
if [ "$plain" = --plain ]; then
  fresh
  frame() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
  head_='{"jsonrpc":"2.0","id":2,"method":"textDocument/hover","params":{"x":"'
  tail_='"}}'
  size=$((48 << 20))
  {
    frame '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}'
    printf 'Content-Length: %d\r\n\r\n%s' $((${#head_} + size + ${#tail_})) "$head_"
    head -c "$size" /dev/zero | tr '\0' A
    printf '%s' "$tail_"
    frame '{"jsonrpc":"2.0","id":3,"method":"shutdown"}'
    frame '{"jsonrpc":"2.0","method":"exit"}'
  } >lsp.in
  (ulimit -v $((floor + 120000)) && timeout 60 "$zoqc" --lsp <lsp.in >out 2>err)
  status=$?
  no_report() { ! grep -q EOutOfMemory out; }
  check "server out of memory: no report in the protocol's stream" no_report
  # Answered with an error and went on to shut down, or (with too little left even for that)
  # ended with the report on standard error.
  answered_or_reported() {
    if [ $status -eq 0 ]; then
      grep -q '"message":"out of memory"' out && grep -q '"id":3,"jsonrpc":"2.0","result":null' out
    else
      [ $status -eq 217 ] && grep -qx 'EOutOfMemory : Out of memory' err
    fi
  }
  check "server out of memory: refused and went on, or the report on stderr (exit $status)" \
    answered_or_reported
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
