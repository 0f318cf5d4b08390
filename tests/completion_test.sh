#!/usr/bin/env bash
# Runs the bash completion on command lines and checks what it offers: the options of the real
# `zoqc --help`, the options of a help text with value-taking options, and page names.
#   bash tests/completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY
set -u
completion=$(realpath -e "${1:?usage: completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY}") || exit 2
zoqc=$(realpath -e "${2:?usage: completion_test.sh COMPLETION_SCRIPT ZOQC_BINARY}") || exit 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=/dev/null
source "$completion"
failed=0

# expect WORD... :: EXPECTED: completes the last WORD of the command line and compares the
# offers, sorted and joined by blanks, with EXPECTED.
expect() {
  local -a words=("${@:1:$#-2}")
  local want=${*: -1} got
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  _zoqc
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  got=${got% }
  [[ $got == "$want" ]] && return
  printf 'completing [%s]: got [%s], want [%s]\n' "${words[*]}" "$got" "$want"
  failed=1
}

cd "$scratch" || exit 2
mkdir -p site/blog docs
touch hello.zoq hello.zot help.txt site/index.zoq site/blog/post.zoq -- -dash.zoq
# A zoqc from the future: options with values, in the shapes that help texts use.
cat >future <<'HELP'
#!/bin/sh
cat <<'TEXT'
Usage: zoqc [options] page...
  -o, --output=DIR             write the pages into DIR
  -j N                         translate N pages at once
  --diagnostics-format[=FMT]   text or json
  -W, --warn                   report warnings
  --                           end of the options
TEXT
HELP
chmod +x future

# The options, as today's zoqc lists them.
expect "$zoqc" --c :: "--check --color="
expect "$zoqc" --q :: "--quiet"
expect "$zoqc" hello --v :: "--version"
expect "$zoqc" -- - :: "-dash"                     # after "--" only pages
# Pages: scripts without ".zoq", and folders to look in.
expect "$zoqc" "" :: "-dash docs hello site"
expect "$zoqc" he :: "hello"
expect "$zoqc" -q site/ :: "site/blog site/index"
expect "$zoqc" site/blog/ :: "site/blog/post"
# Options that take a value, from the future help text.
expect ./future --d :: "--diagnostics-format="
expect ./future - :: "--diagnostics-format= --output= --warn -W -j -o"
expect ./future -o he :: "hello.zoq hello.zot help.txt"          # a value is any file
expect ./future --output = he :: "hello.zoq hello.zot help.txt"  # bash splits "--output=he" at the "="
expect ./future -W he :: "hello"                    # -W takes no value

[[ $failed -eq 0 ]] && echo "completion ok"
exit $failed
