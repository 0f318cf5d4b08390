#!/usr/bin/env bash
# The durable whole-site measurement: zoqc -q -j2 -r of the 10,000-page site against cp -r of
# the same files followed by sync, on a file system on a real disk (where a flush costs what it
# costs; on tmpfs it costs nothing). zoqc has every page on the disk when it returns, cp -r only
# after the sync. Two cases, each the median of RUNS runs (default 5), A and B in turn:
#   new:     no page written yet, no copy yet (each run starts after removing them and a sync);
#   replace: every page there already and replaced, the copy there already and overwritten.
# Then the same zoqc run followed by sync, to show that nothing is left to flush.
# Usage: bench/site/durable.sh ZOQC_BINARY WORK_DIR [RUNS]
#
# Without a disk file system at hand, make one in a file (as root):
#   truncate -s 2G /var/tmp/ext4.img && mkfs.ext4 -q /var/tmp/ext4.img
#   mkdir -p /mnt/ext4 && mount -o loop /var/tmp/ext4.img /mnt/ext4
#   bench/site/durable.sh build-release/zoqc /mnt/ext4/zoqc-bench
set -euo pipefail
zoqc=$(realpath -e "${1:?usage: durable.sh ZOQC_BINARY WORK_DIR [RUNS]}")
work=${2:?usage: durable.sh ZOQC_BINARY WORK_DIR [RUNS]}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
fs=$(findmnt -n -o FSTYPE -T "$work" 2>/dev/null || stat -f -c %T "$work")
case $fs in
  tmpfs | ramfs) echo "durable.sh: $work is on $fs, where flushing costs nothing" >&2 ;;
esac
site=$work/site
[[ -d $site ]] || "$here/gen_site.sh" "$site"
pages=$(find "$site" -name '*.zoq' | wc -l)

no_pages() { find "$site" -name '*.php' -delete; }
# seconds CMD...: how long CMD takes.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
zoqc_site() { "$zoqc" -q -j2 -r "$site"; }
copy_site() { cp -r "$site" "$work/copy" && sync; }
zoqc_then_sync() { zoqc_site && sync; }

declare -a zn cn zr cr zs
for ((run = 0; run < runs; run++)); do
  no_pages
  rm -rf "$work/copy"
  sync
  zn+=("$(seconds zoqc_site)")
  [[ $(find "$site" -name '*.php' | wc -l) -eq $pages ]] || { echo "zoqc -r missed pages"; exit 1; }
  cn+=("$(seconds copy_site)")
  sync
  zr+=("$(seconds zoqc_site)")
  rm -rf "$work/copy"
  mkdir "$work/copy"
  cp -r "$site/." "$work/copy"
  sync
  cr+=("$(seconds sh -c "cp -r '$site/.' '$work/copy' && sync")")
  sync
  zs+=("$(seconds zoqc_then_sync)")
done
rm -rf "$work/copy"
z=$(median "${zn[@]}") c=$(median "${cn[@]}")
zr_=$(median "${zr[@]}") cr_=$(median "${cr[@]}") s=$(median "${zs[@]}")
printf '%d pages on %s, median of %d runs\n' "$pages" "$fs" "$runs"
printf 'new:     zoqc -q -j2 -r %.2f s, cp -r && sync %.2f s: %.2fx\n' "$z" "$c" "$(echo "$z / $c" | bc -l)"
printf '         (zoqc %s; cp %s)\n' "${zn[*]}" "${cn[*]}"
printf 'replace: zoqc -q -j2 -r %.2f s, cp -r && sync %.2f s: %.2fx\n' "$zr_" "$cr_" \
  "$(echo "$zr_ / $cr_" | bc -l)"
printf '         (zoqc %s; cp %s)\n' "${zr[*]}" "${cr[*]}"
printf 'zoqc -q -j2 -r, then sync: %.2f s (%s)\n' "$s" "${zs[*]}"
