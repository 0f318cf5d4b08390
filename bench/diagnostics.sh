#!/usr/bin/env bash
# The shapes that flooded standard error or ran out of memory in the diagnostics, each run once
# through the given binaries: seconds, peak resident memory and bytes written to standard error.
#   bash bench/diagnostics.sh ZOQC [ZOQC...]   (prints a Markdown table)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 ZOQC [ZOQC...]" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import os, sys
w = sys.argv[1]
def page(d, name, script, template):
    os.makedirs(os.path.join(w, d), exist_ok=True)
    open(os.path.join(w, d, name + ".zoq"), "w").write(script)
    open(os.path.join(w, d, name + ".zot"), "w").write(template)
# two unknown names of 30,000 letters: a did-you-mean between them
page("names", "page", "<?php\n<<*" + "a" * 30000 + "\n<<+" + "b" * 30000 + "\n", "")
# one warning near the end of a 50 MB one-line template
page("line", "page", "<?php\n", "<p>" + "x" * 50000000 + "<!--END side--></p>")
# n unbound placeholders on one line (-Wall), for n = 8,000 and 32,000
for n in (8000, 32000):
    page("many%d" % n, "page", "<?php\n<<title<<1\n",
         "<p>" + "".join("{v%05dxxxxxxxx}" % i for i in range(n)) + "</p>\n")
# JSON over -r: 20 pages, each a 5 MB line with 10 warnings
for k in range(20):
    page("site", "p%02d" % k, "<?php\n",
         "<p>" + "".join("x" * 500000 + "<!--END s%d-->" % i for i in range(10)) + "</p>")
PY

run() {  # run LABEL DIR ARGS...: one row
  local label=$1 dir=$2
  shift 2
  local row="| $label |"
  for zoqc in "${zoqcs[@]}"; do
    (cd "$work/$dir" && /usr/bin/time -o "$work/time" -f "%e %M" timeout 600 "$zoqc" -q --check "$@" \
      >/dev/null 2>"$work/err") || true
    read -r seconds kb < <(tail -n 1 "$work/time")
    row+=" $seconds s, $((kb / 1024)) MB, $(wc -c <"$work/err") B |"
  done
  echo "$row"
}

zoqcs=()
for zoqc in "$@"; do zoqcs+=("$(realpath -e "$zoqc")"); done
header="| Shape |"
rule="|---|"
for zoqc in "$@"; do
  header+=" $zoqc |"
  rule+="---|"
done
echo "$header"
echo "$rule"
run "two 30,000-letter unknown names" names page
run "a warning at the end of a 50 MB line" line page
run "8,000 warnings on a 128 KB line (-Wall)" many8000 -Wall page
run "the same, -fmax-diagnostics=0" many8000 -Wall -fmax-diagnostics=0 page
run "32,000 warnings on a 512 KB line, -fmax-diagnostics=0" many32000 -Wall -fmax-diagnostics=0 page
run "JSON over -r: 20 pages, 10 warnings on a 5 MB line each" site --diagnostics-format=json -r .
