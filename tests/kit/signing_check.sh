#!/usr/bin/env bash
# signing_check.sh BUILD-DIR WORK-DIR: with a throw-away authority and code-signing certificate, the carried
# formdesk.exe, gbconv.dll and qrencode.exe, dist's formwell.exe and a published loader.exe verify with
# osslsigncode; without a certificate none of them is signed.
set -u
build="$1" work=$(realpath -m "$2") src=$(cd "$(dirname "$0")/../.." && pwd) status=0
strip=$(sed -n 's/^CMAKE_STRIP:[A-Z]*=//p' "$build/CMakeCache.txt")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
{ openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=ca -keyout ca.key -out ca.pem -addext basicConstraints=critical,CA:TRUE &&
  openssl req -newkey rsa:2048 -nodes -subj /CN=signer -keyout sign.key -out sign.csr &&
  openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -extfile <(echo extendedKeyUsage=codeSigning) -out sign.pem &&
  cat sign.pem ca.pem >chain.pem; } 2>/dev/null || exit 1
for signed in yes no; do
  cert="" key="" && [ $signed = yes ] && cert="$work/chain.pem" key="$work/sign.key"
  export FORMWELL_SIGN_CERT="$cert" FORMWELL_SIGN_KEY="$key" STRIP="$strip"
  mkdir -p $signed/build && ln -s "$build/bin" "$build/tools-host" $signed/build/ &&
    printf 'CMAKE_STRIP:P=%s\nFORMWELL_SIGN_CERT:P=%s\nFORMWELL_SIGN_KEY:P=%s\n' "$strip" "$cert" "$key" >$signed/build/CMakeCache.txt &&
    bash "$src/cmake/stage_package.sh" windows "$build/tools-host/formwell-pack" $signed/tm.zip $signed/stage "$src/forms" \
      "$build/bin" "$build/_deps/qrencode/qrencode.exe" && bash "$src/tools/publish.sh" $signed/build 2.0.0.8 $signed/table &&
    bash "$src/cmake/ship_program.sh" "$strip" "$build/bin/formwell.exe" $signed/formwell.exe &&
    bsdtar -xf $signed/tm.zip -C $signed formdesk.exe gbconv.dll qrencode/qrencode.exe &&
    bsdtar -xf $signed/table/table.zip -C $signed loader.exe || { echo "FAIL: staging ($signed)"; exit 1; }
  for program in formdesk.exe gbconv.dll qrencode/qrencode.exe formwell.exe loader.exe; do
    verified=no && osslsigncode verify -CAfile ca.pem -in $signed/$program >log 2>&1 && grep -q 'digest algorithm *: SHA256' log && verified=yes
    [ $verified = $signed ] || { echo "FAIL: $program: signing asked: $signed, SHA-256 signature verified: $verified"; status=1; }
  done
done >"$work/out" 2>&1
grep FAIL "$work/out" || echo "ok: each shipped Windows program is signed exactly when asked"
exit $status
