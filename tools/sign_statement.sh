#!/usr/bin/env bash
# Writes the signed statement of an update package to standard output:
#
#   tools/sign_statement.sh PRIVATE-KEY.pem VERSION PACKAGE
#
# The statement binds VERSION to the size and the SHA-256 of PACKAGE (table.zip) and is signed with
# the bank's private key (ECDSA P-256), so a program with the public key compiled in takes VERSION
# from version.txt, and installs PACKAGE under it, only when the three belong together. The form
# (formwell/package_signature.h reads it, and nothing else):
#
#   formwell update 1
#   version VERSION
#   size BYTES
#   sha256 HEX
#   signature HEX      the DER signature of the four lines above, in lower-case hex
set -euo pipefail
if [ $# -ne 3 ]; then
  sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi
key="$1" version="$2" package="$3"
if ! [[ "$version" =~ ^[0-9.]{1,32}$ ]]; then
  echo "sign_statement: a stated version is 1 to 32 digits and dots (got '$version')" >&2
  exit 2
fi
[ -f "$package" ] && [ -s "$package" ] || { echo "sign_statement: $package is no package" >&2; exit 1; }
statement="$(mktemp)"
trap 'rm -f "$statement"' EXIT
printf 'formwell update 1\nversion %s\nsize %s\nsha256 %s\n' "$version" "$(stat -c %s "$package")" \
  "$(openssl dgst -sha256 -r "$package" | cut -d' ' -f1)" >"$statement"
# od -v: without it od writes "*" for repeated lines, which a long signature may have.
signature="$(openssl dgst -sha256 -sign "$key" "$statement" | od -An -v -tx1 | tr -d ' \n')"
[ -n "$signature" ] || { echo "sign_statement: $key could not sign" >&2; exit 1; }
cat "$statement"
printf 'signature %s\n' "$signature"
