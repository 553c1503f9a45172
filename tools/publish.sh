#!/usr/bin/env bash
# Turns a build into a folder for the update server:
#
#   tools/publish.sh BUILD-DIR VERSION OUT-FOLDER
#
#   BUILD-DIR   build/win32 (what customers run) or build/linux, built with `make build-win32` etc.
#   VERSION     four numbers with dots, e.g. 2.0.0.8; "1.0.0.0" sends every customer back to the
#               package that the program carries (a roll-back).
#   OUT-FOLDER  made if missing; afterwards it holds
#                 table.zip     the package (as the program carries it) plus loader.exe, the next
#                               formwell program, which replaces the customer's program file
#                 filesize.txt  the size of table.zip in bytes, as decimal text
#                 version.txt   VERSION, without a line break
#
# Serve OUT-FOLDER's three files under the address the program was built with (for the internal
# server "http://ADDRESS:8080/table/", for the public one "https://ADDRESS/ccs/table/") with
# any static web server. version.txt is written last, each file through a temporary name, so a
# customer who asks while publishing runs sees either the old version or the whole new one.
set -euo pipefail
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
pack="$build/tools-host/formwell-pack"
[ -x "$pack" ] || { echo "publish: $pack is missing; build $build first" >&2; exit 1; }

mkdir -p "$out"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
# The same members as the carried package, then the next program as loader.exe (on Linux too:
# the self-replacement copies programFolder/loader.exe over the running program file).
PACKAGE_EXTRA_MEMBERS="loader.exe=$program" \
  bash "$here/cmake/stage_package.sh" "$platform" "$pack" "$stage/table.zip" "$stage/stage" "$here/forms" \
  "$build/bin" $qrencode >/dev/null
size=$(stat -c %s "$stage/table.zip")
printf '%s' "$size" >"$stage/filesize.txt"
printf '%s' "$version" >"$stage/version.txt"
for f in table.zip filesize.txt version.txt; do
  cp "$stage/$f" "$out/.$f.new"
  mv -f "$out/.$f.new" "$out/$f"
done
echo "publish: $out: version $version, table.zip $size bytes ($platform), with loader.exe"
