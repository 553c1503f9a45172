#!/usr/bin/env bash
# Prepares a copy of a program for leaving the build machine:
#   ship_program.sh STRIP IN OUT
# OUT is IN without its symbols and debugging sections (the build's own IN stays debuggable); STRIP "-"
# takes IN as it is, for a program that its build strips already.
# A Windows program (PE) is then signed with Authenticode when a code-signing certificate is given:
#   FORMWELL_SIGN_CERT           the certificate: PEM (chain included when needed), or DER (one
#                                certificate, so one that needs no chain: issued by an authority
#                                the system trusts, or the bank's own self-signed one)
#   FORMWELL_SIGN_KEY            its private key (PEM or DER, unencrypted)
#   FORMWELL_SIGN_TIMESTAMP_URL  a time-stamping server (RFC 3161) to countersign with; none when empty
# The signature is SHA-256 over the file, made with Debian's osslsigncode; the signing time is
# SOURCE_DATE_EPOCH, so that the same inputs sign to the same bytes (without a time-stamp server).
# OUT is written through a temporary name beside it and verified before it is moved in place.
set -euo pipefail
strip="$1" in="$2" out="$3"
tmp="$out.ship.$$"
trap 'rm -f "$tmp" "$tmp.signed" "$tmp.log" "$tmp.ca" "$tmp.cert"' EXIT

# strip writes a PE header's time stamp anew: SOURCE_DATE_EPOCH's time (by default the last
# commit's), so that the same program always strips to the same bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$(dirname "$0")" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=0
fi
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}"
if [ "$strip" = - ]; then # built stripped already
  cp "$in" "$tmp"
else
  "$strip" --strip-all -o "$tmp" "$in"
fi
# A PE file begins with "MZ"; the ELF programs of the Linux build are never signed.
if [ -n "${FORMWELL_SIGN_CERT:-}" ] && [ "$(head -c2 "$tmp")" = MZ ]; then
  if [ -z "${FORMWELL_SIGN_KEY:-}" ]; then
    echo "ship: FORMWELL_SIGN_CERT is set but FORMWELL_SIGN_KEY is not" >&2
    exit 1
  fi
  command -v osslsigncode >/dev/null || { echo "ship: osslsigncode is not installed (run scripts/setup.sh)" >&2; exit 1; }
  # Signed and checked with the certificate in PEM: a DER certificate is turned into PEM first, for
  # it cannot join the PEM bundle of trusted authorities that the check below reads.
  cert="$FORMWELL_SIGN_CERT"
  if ! grep -qa -- '-----BEGIN CERTIFICATE-----' "$cert"; then
    if ! openssl x509 -inform DER -in "$cert" -out "$tmp.cert" 2>"$tmp.log"; then
      cat "$tmp.log" >&2
      echo "ship: $cert is neither a PEM nor a DER certificate" >&2
      exit 1
    fi
    cert="$tmp.cert"
  fi
  args=(sign -certs "$cert" -key "$FORMWELL_SIGN_KEY" -h sha256 -n "Velor服务平台自助申请软件")
  [ -n "${FORMWELL_SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$FORMWELL_SIGN_TIMESTAMP_URL")
  args+=(-time "$SOURCE_DATE_EPOCH")
  if ! osslsigncode "${args[@]}" -in "$tmp" -out "$tmp.signed" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2
    rm -f "$tmp.log"
    echo "ship: signing $(basename "$in") failed" >&2
    exit 1
  fi
  rm -f "$tmp.log"
  # The signature must verify, its certificate trusted through the system's authorities or the
  # certificate file itself (a bank's own authority, or a test certificate).
  cat /etc/ssl/certs/ca-certificates.crt "$cert" >"$tmp.ca" 2>/dev/null || cp "$cert" "$tmp.ca"
  if ! osslsigncode verify -CAfile "$tmp.ca" -in "$tmp.signed" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2
    rm -f "$tmp.log" "$tmp.ca"
    echo "ship: the signature of $(basename "$in") does not verify" >&2
    exit 1
  fi
  rm -f "$tmp.log" "$tmp.ca"
  mv -f "$tmp.signed" "$tmp"
fi
chmod --reference="$in" "$tmp"
touch -r "$in" "$tmp"
mv -f "$tmp" "$out"
