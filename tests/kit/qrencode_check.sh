#!/usr/bin/env bash
# The Windows package's QR encoder, run under Wine the way formdesk runs it:
#   qrencode_check.sh PREFIX QRENCODE-EXE WORK-DIR
# For signature-like texts (an MD5 in hex and a version code), `qrencode.exe -o "<file>" -l H <text>`
# must write a PNG that zbarimg decodes back to the text, and that is the very picture Debian's
# qrencode (the same version) draws at level H, which proves the error-correction level. The output
# folder's name holds a blank, as the program folder's may. Exits 77 where Wine cannot run it.
set -u
prefix="$1" exe="$2" work="$3"
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../cmake/wine-run.sh"

rm -rf "$work"
mkdir -p "$work/images dir"
out="$work/images dir/encryption.png"
win_out="Z:${out//\//\\}"

signature=$(printf '%s' 'Formwell 申请 users accounts rights' | md5sum | cut -c1-32)
texts=(
  "${signature}0071901"                         # currentversion 2010.7.19.1
  "0123456789abcdef02030124050062812"           # 2010.06.28.12, the pages' own example body
  "${signature}0000.0.0"                        # 1.0.0.0, the version of the first installation
  "${signature}000000"                          # currentversion missing
)
status=0
for text in "${texts[@]}"; do
  rm -f "$out" "$work/debian.png"
  "$wine_run" "$prefix" "$exe" -o "$win_out" -l H "$text" >"$work/wine.log" 2>&1
  rc=$?
  if [ $rc = 77 ]; then
    cat "$work/wine.log" >&2
    exit 77
  fi
  if [ $rc != 0 ] || [ ! -s "$out" ]; then
    echo "FAIL $text: qrencode.exe exited $rc and wrote no picture" >&2
    cat "$work/wine.log" >&2
    status=1
    continue
  fi
  decoded=$(zbarimg -q --raw "$out" 2>/dev/null)
  if [ "$decoded" != "$text" ]; then
    echo "FAIL $text: the picture decodes to '$decoded'" >&2
    status=1
    continue
  fi
  qrencode -o "$work/debian.png" -l H "$text"
  if ! cmp -s "$out" "$work/debian.png" &&
    [ "$(compare -metric AE "$out" "$work/debian.png" null: 2>&1)" != 0 ]; then
    echo "FAIL $text: the picture is not the level-H symbol Debian's qrencode draws" >&2
    status=1
    continue
  fi
  echo "ok   $text"
done
exit $status
