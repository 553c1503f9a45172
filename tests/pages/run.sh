#!/usr/bin/env bash
# Page tests of the form packages: installs the page libraries and tools when needed, assembles the packages
# into a temporary folder, checks the page scripts for ES5, and runs the Playwright tests in Debian's headless
# Chromium with Node's test runner. Runs from any working directory; exits non-zero when anything fails.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
forms="$(cd "$here/../../forms" && pwd)"
chromium="${FW_CHROMIUM:-/usr/bin/chromium}"

if [ ! -x "$chromium" ]; then
  echo "run.sh: $chromium is missing (apt-get install -y chromium)" >&2
  exit 1
fi

# npm writes node_modules/.package-lock.json at every install: older than the lock file means stale.
if [ ! -f "$forms/node_modules/.package-lock.json" ] || [ "$forms/package-lock.json" -nt "$forms/node_modules/.package-lock.json" ]; then
  echo "run.sh: installing the page libraries and test tools (npm ci)"
  (cd "$forms" && npm ci --no-audit --no-fund)
fi

out="$(mktemp -d "${TMPDIR:-/tmp}/fw-pages.XXXXXX")"
trap 'rm -rf "$out"' EXIT

node "$forms/assemble.js" "$out"

echo "run.sh: checking the page scripts for ES5"
(cd "$forms" && ./node_modules/.bin/eslint --max-warnings 0 common/js */js)

export FW_PACKAGES="$out" FW_CHROMIUM="$chromium"
cd "$here"
node --test --test-concurrency=2 ./*.test.js
