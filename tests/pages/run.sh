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

# The page tools (eslint, playwright-core) and the test runner's --test-concurrency need Node 20.19 or
# newer; Debian 12's own Node is 18. With an older one (FW_NODE names another to try), Node is taken
# from the npm registry (node-linux-<arch>) once, into the user's cache, and runs everything here.
node_version=22.23.5
node_is_new_enough() {
  "$1" -e 'const [a, b] = process.versions.node.split(".").map(Number);
           process.exit(a > 20 || (a === 20 && b >= 19) ? 0 : 1)' >/dev/null 2>&1
}
node_bin="${FW_NODE:-node}"
if ! node_is_new_enough "$node_bin"; then
  case "$(uname -m)" in
    x86_64) arch=x64 ;;
    aarch64) arch=arm64 ;;
    *) echo "run.sh: the page tools need Node 20.19 or newer" >&2; exit 1 ;;
  esac
  cache="${XDG_CACHE_HOME:-${HOME:?}/.cache}/formwell/node-$node_version"
  node_bin="$cache/node_modules/node-linux-$arch/bin/node"
  if ! node_is_new_enough "$node_bin"; then
    echo "run.sh: installing Node $node_version for the page tools (npm install node-linux-$arch)"
    mkdir -p "$cache"
    npm install --prefix "$cache" --no-save --no-package-lock --no-audit --no-fund "node-linux-$arch@$node_version"
    node_is_new_enough "$node_bin" || { echo "run.sh: $node_bin does not run" >&2; exit 1; }
  fi
fi
node_bin="$(command -v "$node_bin")"
# npm and the tools' own scripts find it as "node" too.
PATH="$(dirname "$node_bin"):$PATH"
export PATH

# npm writes node_modules/.package-lock.json at every install: older than the lock file means stale.
if [ ! -f "$forms/node_modules/.package-lock.json" ] || [ "$forms/package-lock.json" -nt "$forms/node_modules/.package-lock.json" ]; then
  echo "run.sh: installing the page libraries and test tools (npm ci)"
  (cd "$forms" && npm ci --no-audit --no-fund)
fi

out="$(mktemp -d "${TMPDIR:-/tmp}/fw-pages.XXXXXX")"
trap 'rm -rf "$out"' EXIT

"$node_bin" "$forms/assemble.js" "$out"

echo "run.sh: checking the page scripts for ES5"
(cd "$forms" && "$node_bin" ./node_modules/eslint/bin/eslint.js --max-warnings 0 common/js */js)

export FW_PACKAGES="$out" FW_CHROMIUM="$chromium"
cd "$here"
"$node_bin" --test --test-concurrency=2 ./*.test.js
