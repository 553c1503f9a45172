#!/usr/bin/env bash
# The publisher: a build becomes an update-server folder whose table.zip carries the package and
# the build's formwell as loader.exe, with filesize.txt and version.txt to match; versions the
# programs would misread are refused or warned about.
# With a signing key it writes table.zip.sig, the statement for the build's platform and the older statement.txt, and
# for a build that checks signatures it publishes only with the matching private key.
#   publish_test.sh PUBLISH.SH BUILD-DIR TEST-KEYS-DIR
set -u
publish="$1" build="$2" keys="$3"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

bash "$publish" "$build" 2.0.0.8 "$out/table" >/dev/null || fail "publishing 2.0.0.8"
[ "$(cat "$out/table/version.txt")" = "2.0.0.8" ] || fail "version.txt: $(od -c "$out/table/version.txt")"
[ "$(tail -c1 "$out/table/version.txt" | od -An -c | tr -d ' ')" = 8 ] || fail "version.txt ends in a line break"
[ "$(cat "$out/table/filesize.txt")" = "$(stat -c %s "$out/table/table.zip")" ] || fail "filesize.txt"
program="$build/bin/formwell"
[ -f "$program.exe" ] && program="$program.exe"
SOURCE_DATE_EPOCH=$(git -C "$(dirname "$publish")" log -1 --format=%ct) "$(sed -n 's/^CMAKE_STRIP:[A-Z]*=//p' \
  "$build/CMakeCache.txt")" -o "$out/stripped" "$program" || fail "strip" # loader.exe is the program stripped
python3 - "$out/table/table.zip" "$out/stripped" <<'PY' || fail "table.zip"
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
[ ! -e "$out/table/table.zip.sig" ] || fail "an unsigned publication wrote a signature"

# Signing: the signature verifies against the public key; a build with a key refuses to publish
# without it or with another one.
bash "$publish" --key "$keys/update.pem" "$build" 2.0.0.8 "$out/signed" >/dev/null 2>&1 || fail "publishing signed"
openssl dgst -sha256 -verify "$keys/update.pub.pem" -signature "$out/signed/table.zip.sig" "$out/signed/table.zip" \
  >/dev/null || fail "table.zip.sig does not verify"
platform=linux
[ -f "$build/bin/formwell.exe" ] && platform=windows
for form in "statement-$platform.txt:platform $platform" "statement.txt:formwell update 1"; do
  file="$out/signed/${form%%:*}"
  grep -qx "sha256 $(sha256sum <"$out/signed/table.zip" | cut -d' ' -f1)" "$file" && grep -qx "${form#*:}" "$file" &&
    grep -qx "version 2.0.0.8" "$file" || fail "${form%%:*} does not state this publication: $(cat "$file")"
done
keyed="$out/keyed-build"
mkdir -p "$keyed"
ln -s "$(cd "$build" && pwd)/bin" "$keyed/bin"
ln -s "$(cd "$build" && pwd)/tools-host" "$keyed/tools-host"
echo "FORMWELL_UPDATE_PUBLIC_KEY:FILEPATH=$keys/update.pub.pem" >"$keyed/CMakeCache.txt"
for args in "" "--key $keys/other.pem"; do
  # shellcheck disable=SC2086
  if bash "$publish" $args "$keyed" 2.0.0.9 "$out/refused" >/dev/null 2>&1; then
    fail "a build with a key published with '${args:-no key}'"
  fi
done
[ ! -e "$out/refused/version.txt" ] || fail "a refused publication left files"
bash "$publish" --key "$keys/update.pem" "$keyed" 2.0.0.9 "$out/signed" >/dev/null 2>&1 || fail "signed for a keyed build"
openssl dgst -sha256 -verify "$keys/update.pub.pem" -signature "$out/signed/table.zip.sig" "$out/signed/table.zip" \
  >/dev/null || fail "table.zip.sig of the keyed build"
bash "$publish" "$build" 2.0.0.7 "$out/signed" >/dev/null 2>&1 || fail "unsigned over a signed folder"
[ ! -e "$out/signed/table.zip.sig" ] && [ ! -e "$out/signed/statement.txt" ] &&
  [ ! -e "$out/signed/statement-$platform.txt" ] || fail "an unsigned publication left the earlier signature or statement"
echo "publish: ok"
