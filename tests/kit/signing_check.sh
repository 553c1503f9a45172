#!/usr/bin/env bash
# Authenticode signing of the Windows programs that leave the machine, with a throw-away authority
# and code-signing certificate made here:
#   signing_check.sh BUILD-DIR WORK-DIR
# The carried package staged with a certificate holds formdesk.exe, gbconv.dll and qrencode.exe
# signed; dist's formwell.exe and the publisher's loader.exe are signed too; osslsigncode verify
# passes on each against the authority. Without a certificate the same programs carry no signature.
set -u
build="$1" work="$2"
src=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
strip=$(sed -n 's/^CMAKE_STRIP:[A-Z]*=//p' "$build/CMakeCache.txt")

# The authority, and a code-signing certificate that it issued.
cd "$work" || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Formwell test authority" -keyout ca.key -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign >/dev/null 2>&1 &&
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Formwell test signer" -keyout sign.key -out sign.csr >/dev/null 2>&1 &&
  printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >sign.ext &&
  openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile sign.ext -out sign.pem \
    >/dev/null 2>&1 || { echo "FAIL: openssl could not make the test certificates" >&2; exit 1; }
cat sign.pem ca.pem >chain.pem # the certificate as a bank is given it: with its chain

# stage SIGNED(yes|no) FOLDER: the carried package, the shipped formwell.exe and a published loader.exe.
stage() {
  local cert="" key=""
  [ "$1" = yes ] && cert="$work/chain.pem" key="$work/sign.key"
  mkdir -p "$2"
  FORMWELL_SIGN_CERT="$cert" FORMWELL_SIGN_KEY="$key" STRIP="$strip" bash "$src/cmake/stage_package.sh" windows \
    "$build/tools-host/formwell-pack" "$2/tm.zip" "$2/stage" "$src/forms" "$build/bin" \
    "$build/_deps/qrencode/qrencode.exe" >/dev/null || fail "staging the package ($1)"
  (cd "$2" && bsdtar -xf tm.zip formdesk.exe gbconv.dll qrencode/qrencode.exe) || fail "unpacking the package ($1)"
  FORMWELL_SIGN_CERT="$cert" FORMWELL_SIGN_KEY="$key" bash "$src/cmake/ship_program.sh" "$strip" \
    "$build/bin/formwell.exe" "$2/formwell.exe" || fail "shipping formwell.exe ($1)"
  # The publisher reads the signing settings from the build's cache.
  mkdir -p "$2/build"
  ln -s "$build/bin" "$2/build/bin"
  ln -s "$build/tools-host" "$2/build/tools-host"
  printf 'CMAKE_STRIP:FILEPATH=%s\nFORMWELL_SIGN_CERT:FILEPATH=%s\nFORMWELL_SIGN_KEY:FILEPATH=%s\n' "$strip" "$cert" "$key" \
    >"$2/build/CMakeCache.txt"
  bash "$src/tools/publish.sh" "$2/build" 2.0.0.8 "$2/table" >/dev/null 2>&1 || fail "publishing ($1)"
  (cd "$2" && bsdtar -xf table/table.zip loader.exe) || fail "unpacking the published package ($1)"
}
stage yes "$work/signed"
stage no "$work/unsigned"

for program in formdesk.exe gbconv.dll qrencode/qrencode.exe formwell.exe loader.exe; do
  osslsigncode verify -CAfile "$work/ca.pem" -in "$work/signed/$program" >"$work/verify.log" 2>&1 ||
    fail "$program is not signed, or its signature does not verify: $(tail -n3 "$work/verify.log")"
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.log" || fail "$program is not signed with SHA-256"
  if osslsigncode verify -CAfile "$work/ca.pem" -in "$work/unsigned/$program" >/dev/null 2>&1; then
    fail "$program is signed although no certificate was given"
  fi
done
[ $status = 0 ] && echo "ok: every shipped Windows program signed and verified"
exit $status
