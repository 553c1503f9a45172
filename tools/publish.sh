#!/usr/bin/env bash
# Turns a build into a folder for the update server:
#
#   tools/publish.sh [--key PRIVATE-KEY.pem] BUILD-DIR VERSION OUT-FOLDER
#
#   --key       the bank's private signing key (ECDSA P-256, PEM): table.zip.sig and the statements
#               are written beside table.zip. Required when BUILD-DIR was built with
#               FORMWELL_UPDATE_PUBLIC_KEY, whose programs take only signed packages and signed
#               versions; the key must be that public key's private half.
#   BUILD-DIR   build/win32 (what customers run) or build/linux, built with `make build-win32` etc.
#   VERSION     four numbers with dots, e.g. 2.0.0.8; "1.0.0.0" sends every customer back to the
#               package that the program carries (a roll-back).
#   OUT-FOLDER  made if missing; afterwards it holds
#                 table.zip     the package (as the program carries it) plus loader.exe, the next
#                               formwell program, which replaces the customer's program file; the
#                               programs are packed stripped, and the Windows ones signed when the
#                               build was configured with FORMWELL_SIGN_CERT and FORMWELL_SIGN_KEY
#                 filesize.txt  the size of table.zip in bytes, as decimal text
#                 version.txt   VERSION, without a line break
#                 table.zip.sig with --key: the signature of table.zip (DER, as openssl writes it)
#                 statement-windows.txt (or statement-linux.txt, after the build's platform) with
#                               --key: the platform, VERSION, the size and the SHA-256 of table.zip,
#                               signed (tools/sign_statement.sh), so that no other package, version
#                               or platform passes for this one
#                 statement.txt with --key: the same without the platform, in the older form that
#                               only programs built before the platform line read
#
# Serve OUT-FOLDER's files (three, six when signed) under the address the program was built with (for the internal
# server "http://ADDRESS:8080/table/", for the public one "https://ADDRESS/ccs/table/") with
# any static web server. version.txt is written last, each file through a temporary name, so a
# customer who asks while publishing runs sees either the old version or the whole new one.
set -euo pipefail
key=""
if [ "${1:-}" = --key ] && [ $# -ge 2 ]; then
  key="$2"
  shift 2
fi
if [ $# -ne 3 ]; then
  sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 2
fi
build="$1" version="$2" out="$3"
here="$(cd "$(dirname "$0")/.." && pwd)"

if ! [[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "publish: the version must be four numbers with dots, like 2.0.0.8 (got '$version')" >&2
  exit 2
fi
# The programs weigh a version as 1000, 100, 10 and 1 times its parts and read only the last
# digit of the fourth part: 2.0.0.10 is not newer than 2.0.0.9. Say so before anyone is surprised.
fourth="${version##*.}"
if [ "${#fourth}" -gt 1 ]; then
  echo "publish: warning: only the last digit of the fourth part counts ($version weighs as ${version%.*}.${fourth: -1})" >&2
fi

if [ -f "$build/bin/formwell.exe" ]; then
  platform=windows program="$build/bin/formwell.exe" qrencode=""
elif [ -f "$build/bin/formwell" ]; then
  platform=linux program="$build/bin/formwell" qrencode="$(command -v qrencode || true)"
else
  echo "publish: $build/bin holds no formwell program; build it first (make build-win32)" >&2
  exit 1
fi
# A build that checks signatures takes nothing unsigned: publishing for it needs the matching key.
build_key="$(sed -n 's/^FORMWELL_UPDATE_PUBLIC_KEY:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
if [ -n "$build_key" ] && [ -z "$key" ]; then
  echo "publish: $build checks update signatures (FORMWELL_UPDATE_PUBLIC_KEY=$build_key); give the private key with --key" >&2
  exit 1
fi
if [ -n "$key" ]; then
  public_der() { openssl pkey "$@" -pubout -outform DER 2>/dev/null | od -An -tx1 | tr -d ' \n'; }
  mine="$(public_der -in "$key")"
  [ -n "$mine" ] || { echo "publish: $key is not a private key that openssl can read" >&2; exit 1; }
  if [ -n "$build_key" ] && [ "$mine" != "$(public_der -pubin -in "$build_key")" ]; then
    echo "publish: $key is not the private half of $build_key, the key that $build checks" >&2
    exit 1
  fi
  [ -n "$build_key" ] || echo "publish: note: $build takes unsigned packages too; signing anyway" >&2
fi
# What leaves the machine is stripped, and signed as the build says (cmake/ship_program.sh).
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null || true; }
STRIP="$(cache_value CMAKE_STRIP)"
[ -n "$STRIP" ] || STRIP=strip
FORMWELL_SIGN_CERT="$(cache_value FORMWELL_SIGN_CERT)" FORMWELL_SIGN_KEY="$(cache_value FORMWELL_SIGN_KEY)"
FORMWELL_SIGN_TIMESTAMP_URL="$(cache_value FORMWELL_SIGN_TIMESTAMP_URL)"
export STRIP FORMWELL_SIGN_CERT FORMWELL_SIGN_KEY FORMWELL_SIGN_TIMESTAMP_URL
pack="$build/tools-host/formwell-pack"
[ -x "$pack" ] || { echo "publish: $pack is missing; build $build first" >&2; exit 1; }

mkdir -p "$out"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
bash "$here/cmake/ship_program.sh" "$STRIP" "$program" "$stage/loader.exe" ||
  { echo "publish: could not prepare $program for shipping" >&2; exit 1; }
# The same members as the carried package, then the next program as loader.exe (on Linux too:
# the self-replacement copies programFolder/loader.exe over the running program file).
PACKAGE_EXTRA_MEMBERS="loader.exe=$stage/loader.exe" \
  bash "$here/cmake/stage_package.sh" "$platform" "$pack" "$stage/table.zip" "$stage/stage" "$here/forms" \
  "$build/bin" $qrencode >/dev/null
size=$(stat -c %s "$stage/table.zip")
printf '%s' "$size" >"$stage/filesize.txt"
printf '%s' "$version" >"$stage/version.txt"
files="table.zip"
if [ -n "$key" ]; then
  openssl dgst -sha256 -sign "$key" -out "$stage/table.zip.sig" "$stage/table.zip"
  # The statement names the platform of the build published here: one key may sign both kits, and
  # a Windows program must never take the Linux package (nor the other way round).
  bash "$here/tools/sign_statement.sh" "$key" "$platform" "$version" "$stage/table.zip" \
    >"$stage/statement-$platform.txt"
  bash "$here/tools/sign_statement.sh" "$key" none "$version" "$stage/table.zip" >"$stage/statement.txt"
  files="$files table.zip.sig statement-$platform.txt statement.txt"
  # The other platform's statement of an earlier publication here belongs to no package any more.
  other=linux
  [ "$platform" = linux ] && other=windows
  rm -f "$out/statement-$other.txt"
else
  # An earlier package's signature and statements would only fail the new one.
  rm -f "$out/table.zip.sig" "$out/statement.txt" "$out/statement-windows.txt" "$out/statement-linux.txt"
fi
for f in $files filesize.txt version.txt; do
  cp "$stage/$f" "$out/.$f.new"
  mv -f "$out/.$f.new" "$out/$f"
done
echo "publish: $out: version $version, table.zip $size bytes ($platform), with loader.exe${key:+, signed}"
