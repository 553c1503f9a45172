#!/usr/bin/env bash
# Writes the signed statement of an update package to standard output:
#
#   tools/sign_statement.sh PRIVATE-KEY.pem PLATFORM VERSION PACKAGE
#
# The statement binds PLATFORM and VERSION to the size and the SHA-256 of PACKAGE (table.zip) and is
# signed with the bank's private key (ECDSA P-256), so a program with the public key compiled in
# takes VERSION from version.txt, and installs PACKAGE under it, only when the three belong together
# and the package is for the program's own platform. PLATFORM is the build the package comes from:
#
#   windows, linux  the form that programs since the platform line read (formwell/package_signature.h),
#                   served as statement-windows.txt or statement-linux.txt:
#                     formwell update 2
#                     platform PLATFORM
#                     version VERSION
#                     size BYTES
#                     sha256 HEX
#                     signature HEX      the DER signature of the five lines above, in lower-case hex
#   none            the older form without the platform line, served as statement.txt, which only
#                   programs built before the platform line read ("formwell update 1", then the
#                   version, size, sha256 and signature lines); programs since refuse it
set -euo pipefail
if [ $# -ne 4 ]; then
  sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi
key="$1" platform="$2" version="$3" package="$4"
case "$platform" in
  windows | linux) head="formwell update 2
platform $platform" ;;
  none) head="formwell update 1" ;;
  *)
    echo "sign_statement: the platform is windows, linux or none (got '$platform')" >&2
    exit 2
    ;;
esac
if ! [[ "$version" =~ ^[0-9.]{1,32}$ ]]; then
  echo "sign_statement: a stated version is 1 to 32 digits and dots (got '$version')" >&2
  exit 2
fi
[ -f "$package" ] && [ -s "$package" ] || { echo "sign_statement: $package is no package" >&2; exit 1; }
statement="$(mktemp)"
trap 'rm -f "$statement"' EXIT
printf '%s\nversion %s\nsize %s\nsha256 %s\n' "$head" "$version" "$(stat -c %s "$package")" \
  "$(openssl dgst -sha256 -r "$package" | cut -d' ' -f1)" >"$statement"
# od -v: without it od writes "*" for repeated lines, which a long signature may have.
signature="$(openssl dgst -sha256 -sign "$key" "$statement" | od -An -v -tx1 | tr -d ' \n')"
[ -n "$signature" ] || { echo "sign_statement: $key could not sign" >&2; exit 1; }
cat "$statement"
printf 'signature %s\n' "$signature"
