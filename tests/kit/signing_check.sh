#!/usr/bin/env bash
# signing_check.sh BUILD-DIR WORK-DIR: with a throw-away authority and code-signing certificate the carried formdesk.exe,
# gbconv.dll and qrencode.exe, dist's formwell.exe and a published loader.exe verify with osslsigncode; without, none is
# signed; with a self-signed certificate and its key in DER form, all are signed too; and each of them, signed or not,
# passes tests/pe_check.sh (a program carries the application manifest).
build="$1" work=$(realpath -m "$2") src=$(cd "$(dirname "$0")/../.." && pwd) status=0
export STRIP=$(sed -n 's/^CMAKE_STRIP:[A-Z]*=//p' "$build/CMakeCache.txt")
rm -rf "$work" && mkdir -p "$work/yes/build" "$work/no/build" "$work/der/build" && cd "$work" || exit 1
{ openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=ca -keyout ca.key -out ca.pem -addext basicConstraints=critical,CA:TRUE &&
  openssl req -newkey rsa:2048 -nodes -subj /CN=signer -keyout yes.key -out sign.csr && openssl x509 -req -in sign.csr -CA ca.pem \
  -CAkey ca.key -extfile <(echo extendedKeyUsage=codeSigning) -out sign.pem && cat sign.pem ca.pem >yes.pem &&
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=bank -keyout der.key.pem -out der.ca.pem -addext \
  extendedKeyUsage=codeSigning && openssl x509 -in der.ca.pem -outform DER -out der.cer &&
  openssl pkey -in der.key.pem -outform DER -out der.key; } 2>/dev/null || exit 1
for signed in yes no der; do
  cert=$signed.pem && [ $signed = der ] && cert=der.cer # der.cer and der.key hold DER
  export FORMWELL_SIGN_CERT=$(realpath -e $cert) FORMWELL_SIGN_KEY=$(realpath -e $signed.key) # none for "no"
  ln -s "$build/bin" "$build/tools-host" $signed/build/ && printf 'CMAKE_STRIP:P=%s\nFORMWELL_SIGN_CERT:P=%s\nFORMWELL_SIGN_KEY:P=%s\n' \
    "$STRIP" "$FORMWELL_SIGN_CERT" "$FORMWELL_SIGN_KEY" >$signed/build/CMakeCache.txt && bash "$src/cmake/stage_package.sh" windows \
    "$build/tools-host/formwell-pack" $signed/tm.zip $signed/stage "$src/forms" "$build/bin" "$build/_deps/qrencode/qrencode.exe" &&
    bash "$src/tools/publish.sh" $signed/build 2.0.0.8 $signed/table && bash "$src/cmake/ship_program.sh" "$STRIP" \
    "$build/bin/formwell.exe" $signed/formwell.exe && bsdtar -xf $signed/tm.zip -C $signed formdesk.exe gbconv.dll qrencode/ &&
    bsdtar -xf $signed/table/table.zip -C $signed loader.exe || { echo "FAIL: staging ($signed)"; status=1; break; }
  for program in formdesk.exe gbconv.dll qrencode/qrencode.exe formwell.exe loader.exe; do
    verified=no && osslsigncode verify -CAfile $([ $signed = der ] && echo der.ca.pem || echo ca.pem) -in $signed/$program \
      >log 2>&1 && grep -q 'digest algorithm *: SHA256' log && verified=yes
    [ $verified = ${signed/der/yes} ] || { echo "FAIL: $program: signing asked: $signed, SHA-256 signature verified: $verified"; status=1; }
  done
done >"$work/out" 2>&1
# Signed or not, every shipped program carries the kit's manifest (tests/pe_check.sh): the published loader.exe too.
for signed in yes no; do
  bash "$src/tests/pe_check.sh" "${STRIP%strip}objdump" $signed >pe-$signed 2>&1 || { echo "FAIL: $(cat pe-$signed)"; status=1; }
done >>"$work/out"
grep FAIL "$work/out" || echo "ok: each shipped Windows program is signed exactly when asked, and carries its manifest"
exit $status
