#!/usr/bin/env bash
# The Debian package as `make dist` makes it passes lintian without errors or warnings:
#   lintian_check.sh BUILD-DIR WORK-DIR
set -u
build="$1" work="$2"
rm -rf "$work"
mkdir -p "$work"
command -v lintian >/dev/null || { echo "skipped: lintian is not installed (run scripts/setup.sh)"; exit 77; }
cmake --build "$build" --target deb >"$work/build.log" 2>&1 || { tail -n 20 "$work/build.log" >&2; exit 1; }
deb=$(compgen -G "$build/deb/formwell_*_amd64.deb" | head -n1)
[ -n "$deb" ] || { echo "FAIL: no formwell_*_amd64.deb in $build/deb" >&2; exit 1; }
if ! lintian --fail-on error,warning --no-tag-display-limit --display-level '>=warning' "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  echo "FAIL: lintian reports errors or warnings for $(basename "$deb")" >&2
  exit 1
fi
echo "ok: lintian passes $(basename "$deb")"
