#!/usr/bin/env bash
# Stages and writes the package archive that formwell carries:
#   stage_package.sh linux|windows PACK-TOOL OUT.zip STAGE-DIR FORMS-DIR BIN-DIR [QRENCODE-EXE]
# Members, in this order: eb_df/, qrencode/, the formdesk program, the gbconv library, eb_ac/.
# PACKAGE_FORMDESK, when set, is the formdesk program to pack instead of the built one (the
# end-to-end tests pack a stand-in that records its command line).
# PACKAGE_EXTRA_MEMBERS (NAME=PATH, one a line) are added at the end: the update publisher
# adds the next formwell program as loader.exe this way.
# The form packages are assembled by forms/assemble.js with their page libraries; when node, npm
# or the assembly fails, the build fails (a package of placeholder pages must never ship). Only a
# form whose sources are not in forms/ yet stands in as a placeholder page, and formdesk is left
# out until it is built. The Linux programs carry the same ".exe" names as the Windows ones, so
# that the kit starts them by the same names and unpacks them as files.
# NODE and NPM name the programs to use (default: node and npm on the PATH).
# The programs are packed as cmake/ship_program.sh prepares them for leaving the machine: stripped
# with STRIP (default: strip), and the Windows ones signed when FORMWELL_SIGN_CERT is given; the
# build's own programs stay as they are.
set -euo pipefail
platform="$1" pack="$2" out="$3" stage="$4" forms="$5" bin="$6" qrencode="${7:-}"
node="${NODE:-node}" npm="${NPM:-npm}" strip="${STRIP:-strip}"
here="$(cd "$(dirname "$0")" && pwd)"

rm -rf "$stage"
mkdir -p "$stage/forms" "$stage/qrencode"

fail() {
  echo "package: $*" >&2
  exit 1
}
[ -f "$forms/assemble.js" ] || fail "$forms/assemble.js is missing"
command -v "$node" >/dev/null || fail "node ($node) is not installed: the form packages cannot be assembled (run scripts/setup.sh)"
if [ ! -d "$forms/node_modules" ]; then
  command -v "$npm" >/dev/null || fail "npm ($npm) is not installed: the page libraries cannot be installed (run scripts/setup.sh)"
  (cd "$forms" && "$npm" ci --no-audit --no-fund >/dev/null) || fail "npm ci failed in $forms"
fi
"$node" "$forms/assemble.js" "$stage/forms" >/dev/null || fail "assemble.js failed"
for form in eb_df eb_ac; do
  if [ -f "$forms/$form/index.html" ]; then
    [ -f "$stage/forms/$form/index.html" ] || fail "assemble.js gave no $form/index.html"
  else
    # Not in the repository yet: a page that says so.
    mkdir -p "$stage/forms/$form"
    cat >"$stage/forms/$form/index.html" <<HTML
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>$form</title></head>
<body><p>$form: this form arrives with a later version of the package.</p></body></html>
HTML
  fi
done

# The QR encoder: the Windows build passes the qrencode.exe it built; Linux passes none, and its
# formdesk starts Debian's qrencode.
mkdir -p "$stage/programs"
ship() { # ship SOURCE NAME: $shipped is the staged copy of the program as it leaves the machine
  shipped="$stage/programs/$2"
  bash "$here/ship_program.sh" "$strip" "$1" "$shipped" || fail "could not prepare $1"
}
# (cmake/build_qrencode.sh links it stripped.)
[ -n "$qrencode" ] && { bash "$here/ship_program.sh" - "$qrencode" "$stage/qrencode/qrencode.exe" ||
  fail "could not prepare $qrencode"; }

members=("eb_df/=$stage/forms/eb_df")
if [ "$platform" = linux ]; then
  members+=("qrencode/=$stage/qrencode")
  formdesk="${PACKAGE_FORMDESK:-$bin/formdesk}"
  if [ -f "$formdesk" ]; then ship "$formdesk" formdesk; members+=("formdesk.exe=$shipped"); fi
  ship "$bin/libgbconv.so" libgbconv.so
  members+=("libgbconv.so=$shipped")
else
  members+=("qrencode/=$stage/qrencode")
  formdesk="${PACKAGE_FORMDESK:-$bin/formdesk.exe}"
  if [ -f "$formdesk" ]; then ship "$formdesk" formdesk.exe; members+=("formdesk.exe=$shipped"); fi
  ship "$bin/gbconv.dll" gbconv.dll
  members+=("gbconv.dll=$shipped")
fi
members+=("eb_ac/=$stage/forms/eb_ac")
while IFS= read -r extra; do
  [ -n "$extra" ] && members+=("$extra")
done <<<"${PACKAGE_EXTRA_MEMBERS:-}"
exec "$pack" "$out" "${members[@]}"
