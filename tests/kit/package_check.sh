#!/usr/bin/env bash
# The package that the Windows formwell.exe carries, read back under Wine with the kit's own reader:
#   package_check.sh PREFIX PACKAGE-DUMP.EXE FORMWELL.EXE OBJDUMP BIN-DIR QRENCODE-EXE WORK-DIR
# The members come in this order: eb_df/, qrencode/ (holding qrencode.exe and nothing else),
# formdesk.exe, gbconv.dll, eb_ac/; every folder is a member ahead of its contents; the programs are
# the ones this build made; and no program in the package needs a DLL that Windows does not carry.
# formdesk.exe is required as soon as this build makes it (BIN-DIR/formdesk.exe); until then its
# place is reported as pending. Exits 77 where Wine cannot run the 32-bit reader.
set -u
prefix="$1" dump="$2" formwell="$3" objdump="$4" bin="$5" qrencode="$6" work="$7"
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work"
"$here/../../cmake/wine-run.sh" "$prefix" "$dump" "$formwell" "Z:${work//\//\\}\\dump" >"$work/listing" 2>"$work/wine.log"
rc=$?
if [ $rc = 77 ]; then
  cat "$work/wine.log" >&2
  exit 77
fi
if [ $rc != 0 ]; then
  echo "FAIL: the package could not be read back from $formwell" >&2
  cat "$work/wine.log" >&2
  exit 1
fi
sed -i 's/\r$//' "$work/listing" # a Windows program's text output ends its lines in CR LF
members="$work/dump/members"
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

# The top-level order.
top=$(awk '{ name = $2; i = index(name, "/"); if (i) name = substr(name, 1, i);
             if (name != last) print name; last = name }' "$work/listing" | tr '\n' ' ')
expected="eb_df/ qrencode/ formdesk.exe gbconv.dll eb_ac/ "
if [ ! -f "$bin/formdesk.exe" ]; then
  echo "PENDING: this build makes no formdesk.exe yet; the package must carry it as soon as it does"
  expected="eb_df/ qrencode/ gbconv.dll eb_ac/ "
fi
[ "$top" = "$expected" ] || fail "the package's members are '$top', not '$expected'"

# Every folder is a member of its own, ahead of what it holds.
awk '{ name = $2; sub(/\/$/, "", name); n = split(name, part, "/"); path = "";
       for (i = 1; i < n; i++) { path = path part[i] "/"; if (!(path in seen)) print "missing folder " path " ahead of " $2 }
       if ($1 == "d") seen[$2] = 1 }' "$work/listing" >"$work/folders"
[ -s "$work/folders" ] && fail "$(head -n3 "$work/folders")"

# The encoder needs nothing beside it, and the programs are this build's own.
qr_folder=$(grep '^f qrencode/' "$work/listing" | cut -d' ' -f2 | tr '\n' ' ')
[ "$qr_folder" = "qrencode/qrencode.exe " ] || fail "qrencode/ holds '$qr_folder', not qrencode.exe alone"
cmp -s "$members/qrencode/qrencode.exe" "$qrencode" || fail "qrencode/qrencode.exe is not the encoder this build made"
strip="${objdump%objdump}strip" # the others come stripped (a PE's time stamp then is SOURCE_DATE_EPOCH)
for p in gbconv.dll formdesk.exe; do [ -f "$bin/$p" ] && "$strip" -o "$work/$p" "$bin/$p"; done
cmp -s "$members/gbconv.dll" "$work/gbconv.dll" || fail "gbconv.dll is not the library this build made"
if [ -f "$bin/formdesk.exe" ]; then
  cmp -s "$members/formdesk.exe" "$work/formdesk.exe" || fail "formdesk.exe is not the program this build made"
fi
for form in eb_df eb_ac; do
  [ -s "$members/$form/index.html" ] || fail "$form/ has no index.html"
done

# No program in the package, nor formwell.exe itself, imports a DLL beyond what Windows carries.
bash "$here/../pe_check.sh" "$objdump" "$members" || status=1
bash "$here/../pe_check.sh" "$objdump" "$members/gbconv.dll" ANSIToGB || status=1
bash "$here/../pe_check.sh" "$objdump" "$formwell" || status=1

[ $status = 0 ] && echo "ok: $(wc -l <"$work/listing") members in order: $top"
exit $status
