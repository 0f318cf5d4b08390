#!/usr/bin/env bash
# Checks the documents: every relative link in README.md, CONTRIBUTING.md and docs/*.md names a
# file of the repository, and the README, the front page, stays short enough to read.
#   bash tests/docs_test.sh SOURCE_DIR
set -u
cd "${1:?usage: docs_test.sh SOURCE_DIR}" || exit 2
failed=0
for doc in README.md CONTRIBUTING.md docs/*.md; do
  dir=$(dirname "$doc")
  # ](target) and ](target#anchor), leaving out web addresses and anchors of the same page.
  while IFS= read -r target; do
    target=${target%%#*}
    [[ -z $target || $target == *://* || $target == mailto:* ]] && continue
    [[ -e $dir/$target ]] && continue
    echo "$doc links to '$target', which is not there"
    failed=1
  done < <(grep -o '](\([^)]*\))' "$doc" | sed 's/^](\(.*\))$/\1/')
done
lines=$(wc -l <README.md)
if ((lines > 350)); then
  echo "README.md has $lines lines; the front page keeps to 350 (move detail to docs/)"
  failed=1
fi
[[ $failed -eq 0 ]] && echo "documents ok: README.md $lines lines, every link found"
exit $failed
