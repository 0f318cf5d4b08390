#!/usr/bin/env bash
# Runs zoqc as an unprivileged user on pages and directories whose permissions forbid or allow
# the replacement, and checks the report, the reason and the files left. As root (as in CI,
# where permissions would not be enforced) zoqc runs as nobody through setpriv; otherwise as
# the current user, and the cases that need another user's files are skipped.
# Usage: run_unprivileged.sh ZOQC
set -uo pipefail
zoqc=$(realpath "$1")
work=$(mktemp -d /tmp/zoqc-unprivileged-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$zoqc" "$work/zoqc"  # where nobody can run it
# shellcheck source=tests/check_lib.sh
source "$(dirname "$(realpath "$0")")/check_lib.sh"
skipped=0

if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null || { echo "setpriv is missing (util-linux)"; exit 1; }
  user=nobody
  uid=$(id -u nobody)
  gid=$(id -g nobody)
  as_user() { setpriv --reuid="$uid" --regid="$gid" --clear-groups "$@"; }
  give() { chown -R "$uid:$gid" "$@"; }
else
  user=$(id -un)
  uid=$(id -u)
  gid=$(id -g)
  as_user() { "$@"; }
  give() { :; }
fi
as_root() { [ "$(id -u)" -eq 0 ]; }

# A page directory AName with inputs and an old page, owned by the user; cd into it.
page_dir() {
  mkdir "$work/$1"
  cd "$work/$1"
  printf '<?php\r\n<<a<<1\r\n' >p.zoq
  printf '{a}\r\n' >p.zot
  printf 'old page\r\n' >p.php
  give .
}
# run_zoqc: zoqc p as the user; sets status, out, err.
run_zoqc() {
  as_user "$work/zoqc" p >out.txt 2>err.txt
  status=$?
}
old_page() { [ "$(cat p.php)" = $'old page\r' ]; }
no_temporary() { [ -z "$(find . -name '.zoqc-*' -print -quit)" ]; }
mode_of() { stat -c %a "$1"; }
owner_of() { stat -c %u:%g "$1"; }

# A read-only page cannot be replaced.
page_dir readonly-page
chmod 444 p.php
run_zoqc
check "read-only page: exit 217 (got $status)" [ $status -eq 217 ]
check "read-only page: EFCreateError" grep -qx 'EFCreateError : Unable to create file "p.php"' out.txt
check "read-only page: the reason" grep -q 'Permission denied' err.txt
check "read-only page: old page kept" old_page
check "read-only page: mode kept" [ "$(mode_of p.php)" = 444 ]

# A read-only directory: no temporary can be made beside the page.
page_dir readonly-dir
chmod 555 .
run_zoqc
check "read-only directory: exit 217 (got $status)" [ $status -eq 217 ]
check "read-only directory: EFCreateError" grep -qx 'EFCreateError : Unable to create file "p.php"' out.txt
check "read-only directory: the reason" grep -q 'Permission denied' err.txt
check "read-only directory: old page kept" old_page
check "read-only directory: no temporary" no_temporary
chmod 755 .

# A folder that may be written and searched but not read is opened for searching only; the
# pages of a run of several are still flushed to the disk and put in place.
page_dir search-only
cp p.zoq q.zoq
cp p.zot q.zot
printf 'old page\r\n' >q.php
give .
chmod 333 .
as_user "$work/zoqc" p q >"$work/search-only.out" 2>&1
status=$?
check "search-only directory: success (got $status)" [ $status -eq 0 ]
check "search-only directory: p replaced" grep -q 'echo 1' p.php
check "search-only directory: q replaced" grep -q 'echo 1' q.php
check "search-only directory: no temporary" no_temporary
chmod 755 .

# An input that the user may not read.
page_dir unreadable-script
chmod 000 p.zoq
run_zoqc
check "unreadable script: exit 217 (got $status)" [ $status -eq 217 ]
check "unreadable script: EFOpenError" grep -qx 'EFOpenError : Unable to open file "p.zoq"' out.txt
check "unreadable script: the reason" grep -q 'Permission denied' err.txt
check "unreadable script: old page kept" old_page

# The owner and every permission bit of a replaced page are kept, set-user-ID and set-group-ID
# included (changing the owner clears them, so the mode must come after it).
for mode in 4755 2755 6750 640; do
  page_dir "mode-$mode"
  chmod "$mode" p.php
  run_zoqc
  check "mode $mode: success (got $status)" [ $status -eq 0 ]
  check "mode $mode: replaced" grep -q 'echo 1' p.php
  check "mode $mode: kept (got $(mode_of p.php))" [ "$(mode_of p.php)" = "$mode" ]
  check "mode $mode: owner kept" [ "$(owner_of p.php)" = "$uid:$gid" ]
done
# A new page gets 0666 less the umask, and belongs to the user.
page_dir new-page
rm p.php
as_user sh -c "umask 027 && exec '$work/zoqc' p" >out.txt 2>&1
check "new page: mode 640 (got $(mode_of p.php))" [ "$(mode_of p.php)" = 640 ]
check "new page: owned by $user" [ "$(owner_of p.php)" = "$uid:$gid" ]

if as_root; then
  # Replaced by root, a page of another user keeps that owner and its set-ID bits.
  page_dir root-replaces
  chmod 6755 p.php
  "$work/zoqc" p >out.txt 2>err.txt
  check "root replaces: success" [ $? -eq 0 ]
  check "root replaces: mode kept (got $(mode_of p.php))" [ "$(mode_of p.php)" = 6755 ]
  check "root replaces: owner kept" [ "$(owner_of p.php)" = "$uid:$gid" ]

  # A world-writable page of another user in a sticky directory may be written but not
  # replaced: the rename is refused, and the page is left as it was.
  page_dir sticky
  chown root:root . p.php
  chmod 1777 .
  chmod 666 p.php
  run_zoqc
  check "sticky directory: exit 217 (got $status)" [ $status -eq 217 ]
  check "sticky directory: EFCreateError" grep -qx 'EFCreateError : Unable to create file "p.php"' out.txt
  check "sticky directory: the real reason" grep -q 'Operation not permitted' err.txt
  check "sticky directory: old page kept" old_page
  check "sticky directory: owner kept" [ "$(owner_of p.php)" = 0:0 ]
  check "sticky directory: no temporary" no_temporary
else
  echo "not root: the cases with another user's page are skipped"
  skipped=$((skipped + 2))
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
