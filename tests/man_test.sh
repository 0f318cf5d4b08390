#!/usr/bin/env bash
# Checks the manual page: groff formats it without a warning, and it names every option that
# `zoqc --help` lists and every error line of the golden cases.
#   bash tests/man_test.sh MANPAGE ZOQC_BINARY   (exit 77: groff missing, skipped)
set -u
page=${1:?usage: man_test.sh MANPAGE ZOQC_BINARY}
zoqc=${2:?usage: man_test.sh MANPAGE ZOQC_BINARY}
cases=$(cd "$(dirname "$0")/cases" && pwd)
command -v groff >/dev/null 2>&1 || { echo "groff not found: manual page skipped"; exit 77; }
failed=0

warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
if [[ -n $warnings ]]; then
  printf 'groff warns about %s:\n%s\n' "$page" "$warnings"
  failed=1
fi
grep -n '@[A-Za-z_]*@' "$page" && { echo "unfilled @VARIABLE@ in $page"; failed=1; }

# The page as plain text on one line, runs of blanks folded, to search for exact phrases.
text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null | tr -s ' \n' '  ')
# mentions PHRASE WHAT: fails the test unless the page holds PHRASE.
mentions() {
  [[ $text == *"$1"* ]] && return 0
  echo "the manual page does not mention $2 '$1'"
  failed=1
}

options=$("$zoqc" --help | grep -oE -- '(^|[ ,])--?[A-Za-z0-9][-A-Za-z0-9]*' | tr -d ' ,' | sort -u)
[[ -n $options ]] || { echo "zoqc --help lists no options"; failed=1; }
for option in $options; do  # a whole word: "-o" in "read-only" does not count
  [[ $text =~ (^|[^-A-Za-z0-9])$option([^-A-Za-z0-9]|$) ]] && continue
  echo "the manual page does not mention the option '$option'"
  failed=1
done
while IFS= read -r line; do
  mentions "$line" "the message"
done < <(cat "$cases"/*/expected.out | grep '^Error(' | sort -u)
mentions "$("$zoqc" nothing-here | sed -n 2p)" "the banner line"
mentions "$("$zoqc" -Z 2>&1 >/dev/null | tail -n 1)" "the usage error line"

[[ $failed -eq 0 ]] && echo "manual page ok: $(wc -w <<<"$options") options, groff silent"
exit $failed
