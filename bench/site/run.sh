#!/usr/bin/env bash
# The whole-site measurements: zoqc -r -j2, with and without --lint, against make -j2 running
# zoqc once per page and against cp -r of the same files, on a generated site of 10,000 pages;
# then the watch latency over 100 saves. Each timed run starts with no page written. Prints the
# median of RUNS runs (default 3).
# Usage: bench/site/run.sh ZOQC_BINARY [WORK_DIR [RUNS]]
set -euo pipefail
zoqc=$(realpath -e "${1:?usage: run.sh ZOQC_BINARY [WORK_DIR [RUNS]]}")
work=${2:-/tmp/zoqc-site-bench}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
site=$work/site
[[ -d $site ]] || "$here/gen_site.sh" "$site"
pages=$(find "$site" -name '*.zoq' | wc -l)

clean() { find "$site" -name '*.php' -delete; rm -rf "$work/copy"; sync; }
# seconds CMD...: runs CMD from a clean state and prints how long it took.
seconds() {
  clean
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -a zr zl mk cp
for ((run = 0; run < runs; run++)); do
  zr+=("$(seconds "$zoqc" -q -j2 -r "$site")")
  [[ $(find "$site" -name '*.php' | wc -l) -eq $pages ]] || { echo "zoqc -r missed pages"; exit 1; }
  zl+=("$(seconds "$zoqc" -q -j2 --lint -r "$site")")
  [[ $(find "$site" -name '*.php' | wc -l) -eq $pages ]] || { echo "zoqc --lint missed pages"; exit 1; }
  mk+=("$(seconds make -s -j2 -f "$here/site.mk" -C "$site" ZOQC="$zoqc")")
  [[ $(find "$site" -name '*.php' | wc -l) -eq $pages ]] || { echo "make missed pages"; exit 1; }
  cp+=("$(seconds cp -r "$site" "$work/copy")")
done
z=$(median "${zr[@]}") l=$(median "${zl[@]}") m=$(median "${mk[@]}") c=$(median "${cp[@]}")
printf '%d pages, median of %d runs (all runs: zoqc %s; --lint %s; make %s; cp %s)\n' "$pages" \
  "$runs" "${zr[*]}" "${zl[*]}" "${mk[*]}" "${cp[*]}"
printf 'zoqc -q -j2 -r:          %.2f s\n' "$z"
printf 'the same with --lint:    %.2f s  (%.1fx the time without)\n' "$l" "$(echo "$l / $z" | bc -l)"
printf 'make -j2, zoqc per page: %.2f s  (%.1fx the time of zoqc -r)\n' "$m" "$(echo "$m / $z" | bc -l)"
printf 'cp -r:                   %.2f s  (zoqc -r takes %.1fx the time of cp -r)\n' "$c" \
  "$(echo "$z / $c" | bc -l)"
clean

# Watch latency, on one page of the same site.
g++ -O2 -std=c++20 -o "$work/watch_latency" "$here/watch_latency.cc"
"$zoqc" --watch -r "$site" >"$work/watch.log" 2>&1 &
watch_pid=$!
trap 'kill -TERM $watch_pid 2>/dev/null' EXIT
until grep -q '^watching' "$work/watch.log"; do sleep 0.2; done
"$work/watch_latency" "$site/section050" page050 100
