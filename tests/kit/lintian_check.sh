#!/usr/bin/env bash
# lintian_check.sh BUILD-DIR WORK-DIR: lintian finds no error and no warning in the .deb that `make dist` ships.
build="$1" work="$2"
rm -rf "$work" "$build"/deb/*.deb && mkdir -p "$work"
cmake --build "$build" --target deb >"$work/build.log" 2>&1 || { tail -n 20 "$work/build.log"; exit 1; }
lintian --fail-on error,warning --display-level '>=warning' "$build"/deb/formwell_*.deb 2>&1 | grep -v 'root privileges' && exit 1
echo "ok: lintian passes $(basename "$build"/deb/*.deb)"
