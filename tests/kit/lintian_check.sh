#!/usr/bin/env bash
# lintian_check.sh BUILD-DIR LOG: lintian finds no error and no warning in the .deb that `make dist` ships.
rm -f "$1"/deb/*.deb && cmake --build "$1" --target deb >"$2" 2>&1 || { tail -n 20 "$2"; exit 1; }
lintian --fail-on error,warning --display-level '>=warning' "$1"/deb/formwell_*.deb 2>&1 | grep -v 'root privileges' && exit 1
echo "ok: lintian passes $(basename "$1"/deb/*.deb)"
