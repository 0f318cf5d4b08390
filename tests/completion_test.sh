#!/usr/bin/env bash
# Types command lines into an interactive bash on a terminal (through `script`) and presses
# Tab, so that bash itself splits the line and calls the completion, as it does for a user.
# Checks what the completion offered and the line readline left: the options of the real
# `zoqc --help`, their values, the warnings, page names, and a help text from a future zoqc.
#   bash tests/completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY
set -u
completion=$(realpath -e "${1:?usage: completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY}") || exit 2
zoqc=$(realpath -e "${2:?usage: completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY}") || exit 2
command -v script >/dev/null || { echo "script (util-linux) not found"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 2
mkdir -p bin pages/site/blog pages/docs  # the shell completes in pages/
ln -s "$zoqc" bin/zoqc
(cd pages && touch hello.zoq hello.zot help.txt site/index.zoq site/blog/post.zoq -- -dash.zoq)
# A zoqc from the future: options with values, in the shapes that help texts use.
cat >bin/future <<'HELP'
#!/bin/sh
cat <<'TEXT'
Usage: zoqc [options] page...
  -o, --output=DIR             write the pages into DIR
  -i, --input FILE             read the page names from FILE
  --diagnostics-format[=FMT]   text or json
  -W, --warn                   report warnings
  --                           end of the options
TEXT
HELP
chmod +x bin/future

# The interactive shell: the completion as installed, with what it offers written to the log
# at each Tab; Ctrl-X l logs the line readline holds, then empties it.
cat >setup.sh <<SETUP
cd pages
source '$completion'
complete -F _zoqc future
eval "\$(declare -f _zoqc | sed '1s/^_zoqc /_zoqc_offers /')"
_zoqc() {
  _zoqc_offers
  printf 'offers: %s\n' "\$(printf '%s\n' "\${COMPREPLY[@]}" | sort | tr '\n' ' ')" >>'$scratch/log'
}
bind 'set bell-style none'
bind -x '"\C-xl": printf "line: %s|\n" "\$READLINE_LINE" >>"$scratch/log"; READLINE_LINE='
SETUP

# expect LINE OFFERS RESULT: typing LINE and Tab offers OFFERS (sorted) and leaves RESULT.
lines=() want=()
expect() {
  lines+=("$1")
  want+=("offers: $2 " "line: $3|")
}
expect "zoqc --c" "--check --color=" "zoqc --c"
expect "zoqc --q" "--quiet" "zoqc --quiet "
expect "zoqc hello --v" "--version" "zoqc hello --version "
expect "zoqc --dia" "--diagnostics-format=" "zoqc --diagnostics-format="  # no blank after "="
expect "zoqc --diagnostics-format=" "json text" "zoqc --diagnostics-format="
expect "zoqc --diagnostics-format=j" "json" "zoqc --diagnostics-format=json "
expect "zoqc --color=" "always auto never" "zoqc --color="
expect "zoqc --color=n" "never" "zoqc --color=never "
# Warnings: the real names, on and off; -Wall and -Werror, but not the "-Wname" of the help.
expect "zoqc -Wun" "-Wunbound-placeholder -Wunescaped-request -Wunknown-block -Wunused-binding\
 -Wunused-block" "zoqc -Wun"
expect "zoqc -Wno-bo" "-Wno-bom" "zoqc -Wno-bom "
expect "zoqc -We" "-Wempty-expression -Werror -Werror=" "zoqc -We"
expect "zoqc -Werror=bo" "bom" "zoqc -Werror=bom "
expect "zoqc -Wno-error=nes" "nesting-order" "zoqc -Wno-error=nesting-order "
expect "zoqc -Werror he" "hello" "zoqc -Werror hello "  # -Werror alone takes no value
expect "zoqc --expl" "--explain=" "zoqc --explain="
expect "zoqc -Wn" "-Wnesting-order -Wno-all -Wno-append-before-definition\
 -Wno-block-variable-outside-block -Wno-bom\
 -Wno-broken-splice -Wno-differing-copy -Wno-duplicate-binding -Wno-empty-expression -Wno-error\
 -Wno-error=\
 -Wno-indented-statement -Wno-loose-operator -Wno-missing-marker -Wno-missing-php-tag\
 -Wno-nesting-order -Wno-orphan-marker -Wno-php-variable-placeholder -Wno-placeholder-typo\
 -Wno-pre-newline -Wno-raw-placeholder\
 -Wno-rewritten-reference -Wno-statement-in-comment -Wno-statement-in-template\
 -Wno-template-variable-in-block\
 -Wno-unbound-placeholder -Wno-unescaped-request -Wno-unknown-block -Wno-unused-binding\
 -Wno-unused-block" "zoqc -Wn"
# Folders only after -r and -o; nothing to offer for a number.
expect "zoqc -r " "docs site" "zoqc -r "
expect "zoqc -o s" "site" "zoqc -o site/"
expect "zoqc --out-dir=d" "docs" "zoqc --out-dir=docs/"
expect "zoqc --recursive site/" "site/blog" "zoqc --recursive site/blog/"
expect "zoqc -j " "" "zoqc -j "
expect "zoqc --ini" "--init=" "zoqc --init="  # a new site's folder
expect "zoqc --init=s" "site" "zoqc --init=site/"
expect "zoqc --no-p" "--no-project" "zoqc --no-project "
# Pages: scripts without ".zoq", and folders to look in; after "--" only pages.
expect "zoqc he" "hello" "zoqc hello "
expect "zoqc -q site/" "site/blog site/index" "zoqc -q site/"
expect "zoqc -- -" "-dash" "zoqc -- -dash "
# A future help text: values in other shapes.
expect "future -" "--diagnostics-format= --input= --output= --warn -W -i -o" "future -"
expect "future -i he" "hello.zoq hello.zot help.txt" "future -i hel"
expect "future --output=" "docs site" "future --output="
expect "future -W he" "hello" "future -W hello "

{
  echo "source setup.sh"
  for line in "${lines[@]}"; do printf '%s\t\030l' "$line"; done
  echo
  echo exit
} >keys
PATH=$scratch/bin:$PATH HISTFILE=/dev/null INPUTRC=/dev/null TERM=dumb \
  timeout 30 script -q -e -c "bash --norc --noprofile -i" /dev/null <keys >terminal 2>&1
status=$?
mapfile -t got <log 2>/dev/null
failed=0
if [[ $status -ne 0 || ${#got[@]} -ne ${#want[@]} ]]; then
  echo "the shell ended with $status after ${#got[@]} of ${#want[@]} log lines; its terminal:"
  cat -v terminal
  failed=1
fi
for i in "${!want[@]}"; do
  [[ ${got[i]-} == "${want[i]}" ]] && continue
  printf 'typing [%s] and Tab: got [%s], want [%s]\n' "${lines[i / 2]}" "${got[i]-}" "${want[i]}"
  failed=1
done
[[ $failed -eq 0 ]] && echo "completion ok: ${#lines[@]} lines completed by bash"
exit $failed
