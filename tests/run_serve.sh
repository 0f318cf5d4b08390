#!/usr/bin/env bash
# zoqc --serve with PHP's development server and headless Chromium: tests/serve/serve.test.js.
# Usage: tests/run_serve.sh ZOQC_BINARY   (exit 77: php, Chromium or node is missing)
set -u
zoqc=$(realpath -e "${1:?usage: run_serve.sh ZOQC_BINARY}") || exit 2
chromium=${CHROMIUM:-/usr/bin/chromium}
for tool in php node "$chromium"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool not found: the --serve session is skipped (scripts/setup installs it)"
    exit 77
  fi
done
cd "$(dirname "$0")/serve" || exit 2
ZOQC=$zoqc CHROMIUM=$chromium exec node --test serve.test.js
