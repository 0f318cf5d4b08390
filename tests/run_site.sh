#!/usr/bin/env bash
# examples/site served by zoqc --serve in headless Chromium: tests/site/site.test.js.
# Usage: tests/run_site.sh ZOQC_BINARY   (exit 77: php, Chromium or node is missing)
set -u
zoqc=$(realpath -e "${1:?usage: run_site.sh ZOQC_BINARY}") || exit 2
chromium=${CHROMIUM:-/usr/bin/chromium}
for tool in php node "$chromium"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool not found: the example site's browser test is skipped (scripts/setup installs it)"
    exit 77
  fi
done
cd "$(dirname "$0")/site" || exit 2
ZOQC=$zoqc CHROMIUM=$chromium exec node --test site.test.js
