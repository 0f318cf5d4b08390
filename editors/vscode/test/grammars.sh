#!/usr/bin/env bash
# The grammars on their sample files with vscode-tmgrammar-test (each "^" line names the scopes
# the characters above it must have), then on the three example pages, both against VS Code's
# own PHP and HTML grammars from the tm-grammars package. Exit code 77: skipped, no
# editors/vscode/node_modules.
set -euo pipefail
cd "$(dirname "$0")/.."
tester=node_modules/.bin/vscode-tmgrammar-test
hosts=node_modules/tm-grammars/grammars
command -v node >/dev/null && [ -x "$tester" ] && [ -d "$hosts" ] ||
  { echo "vscode-tmgrammar-test or tm-grammars not installed: skipped; scripts/setup-editors installs them"; exit 77; }
# The grammars PHP and HTML embed (SQL, CSS, JavaScript...) are not needed: silence their notes.
run() { timeout 120 "$tester" -g "$hosts/php.json" -g "$hosts/html.json" "$@" 2> >(grep -v '^grammar not found' >&2); }
run -g syntaxes/zoq.tmLanguage.json 'test/grammar/*.zoq'
run -g syntaxes/zot.tmLanguage.json 'test/grammar/*.zot'
timeout 120 node test/example_colours.js ../../examples
