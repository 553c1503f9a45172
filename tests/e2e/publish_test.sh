#!/usr/bin/env bash
# The publisher: a build becomes an update-server folder whose table.zip carries the package and
# the build's formwell as loader.exe, with filesize.txt and version.txt to match; versions the
# programs would misread are refused or warned about.
#   publish_test.sh PUBLISH.SH BUILD-DIR
set -u
publish="$1" build="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

bash "$publish" "$build" 2.0.0.8 "$out/table" >/dev/null || fail "publishing 2.0.0.8"
[ "$(cat "$out/table/version.txt")" = "2.0.0.8" ] || fail "version.txt: $(od -c "$out/table/version.txt")"
[ "$(tail -c1 "$out/table/version.txt" | od -An -c | tr -d ' ')" = 8 ] || fail "version.txt ends in a line break"
[ "$(cat "$out/table/filesize.txt")" = "$(stat -c %s "$out/table/table.zip")" ] || fail "filesize.txt"
program="$build/bin/formwell"
[ -f "$program.exe" ] && program="$program.exe"
python3 - "$out/table/table.zip" "$program" <<'PY' || fail "table.zip"
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert names[0] == "eb_df/" and "eb_ac/" in names, names
assert any(n.startswith("qrencode/") for n in names), names
assert names[-1] == "loader.exe", names
assert z.read("loader.exe") == open(sys.argv[2], "rb").read(), "loader.exe is not this build's formwell"
assert z.testzip() is None
PY
for bad in 2.0.0 2.0.0.8.1 "2.0.0.8 " v2.0.0.8 ""; do
  if bash "$publish" "$build" "$bad" "$out/bad" >/dev/null 2>&1; then fail "accepted version '$bad'"; fi
done
[ ! -e "$out/bad/version.txt" ] || fail "a refused version left files"
warning="$(bash "$publish" "$build" 2.0.0.10 "$out/ten" 2>&1 >/dev/null)"
case "$warning" in *"weighs as 2.0.0.0"*) ;; *) fail "no warning for 2.0.0.10: $warning" ;; esac
echo "publish: ok"
