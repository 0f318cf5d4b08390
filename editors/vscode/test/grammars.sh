#!/usr/bin/env bash
# The grammars on their sample files with vscode-tmgrammar-test: each "^" line names the scopes
# the characters above it must have. PHP and HTML, which VS Code brings, stand in as empty
# grammars. Exit code 77: skipped, no editors/vscode/node_modules.
set -euo pipefail
cd "$(dirname "$0")/.."
tester=node_modules/.bin/vscode-tmgrammar-test
command -v node >/dev/null && [ -x "$tester" ] || { echo "vscode-tmgrammar-test not installed: skipped"; exit 77; }
hosts=(-g test/grammar/source.php.tmLanguage.json -g test/grammar/text.html.basic.tmLanguage.json)
# Each run within two minutes: a grammar whose rules loop fails instead of hanging.
timeout --kill-after=10 120 "$tester" "${hosts[@]}" -g syntaxes/zoq.tmLanguage.json 'test/grammar/*.zoq'
timeout --kill-after=10 120 "$tester" "${hosts[@]}" -g syntaxes/zot.tmLanguage.json 'test/grammar/*.zot'
