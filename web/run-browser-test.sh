#!/bin/sh
# Runs the AOBench page's browser test (browser-test.mjs) on a built page
# folder, installing the test's pinned packages first when they are missing.
#
#   web/run-browser-test.sh PAGE_FOLDER [--screenshot FILE] [--timeout SECONDS]
#
# e.g. web/run-browser-test.sh build/wasm/web --screenshot /tmp/page.png
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 PAGE_FOLDER [--screenshot FILE] [--timeout SECONDS]" >&2
    exit 2
fi
web=$(cd "$(dirname "$0")" && pwd)
if [ ! -d "$web/node_modules/puppeteer-core" ]; then
    (cd "$web" && npm ci --no-audit --no-fund)
fi
exec node "$web/browser-test.mjs" "$@"
