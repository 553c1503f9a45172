#!/usr/bin/env bash
# Checks a built Windows file the way the loader will meet it:
#   pe_check.sh OBJDUMP FILE [EXPORT...]
#   pe_check.sh OBJDUMP FOLDER          (every .exe and .dll in it, at any depth)
# every named export is in the export table under its plain name, the file needs no DLL beyond
# those every Windows system has (no libstdc++, libgcc or winpthread beside it), and a program
# (.exe) carries the kit's application manifest as resource 1 of type 24: run as the invoker
# (never asking for an administrator), and supporting Windows 10/11 (cmake/windows.manifest).
set -u
objdump="$1" file="$2"
shift 2
if [ -d "$file" ]; then
  status=0 found=0
  while IFS= read -r -d '' program; do
    found=1
    bash "$0" "$objdump" "$program" || status=1
  done < <(find "$file" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
  if [ $found = 0 ]; then
    echo "$file: holds no program or library to check" >&2
    exit 1
  fi
  exit $status
fi
dump=$("$objdump" -p "$file") || exit 1
status=0
for name in "$@"; do
  if ! grep -qE "^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+(\+base\[[[:space:]]*[0-9]+\][[:space:]]+[0-9a-f]+[[:space:]]+)?$name\$" <<<"$dump"; then
    echo "$file: no export named $name" >&2
    status=1
  fi
done
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|comctl32.dll|\
    comdlg32.dll|wininet.dll|shlwapi.dll|uuid.dll|winspool.drv|msvcrt.dll|ws2_32.dll|imagehlp.dll|version.dll|bcrypt.dll|\
    api-ms-win-*) ;;
    *) echo "$file: needs $dll, which Windows does not carry" >&2; status=1 ;;
  esac
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
# The manifest as Windows reads it: the resource tree of the PE file, walked from its data
# directory down to type 24, name 1, the first language; then its XML.
read_manifest() {
  python3 - "$1" <<'PY'
import struct, sys, xml.etree.ElementTree as ET
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0": sys.exit("not a PE file")
sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
optional = pe + 24
directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
def offset(rva):
    for s in range(sections):
        vsize, va, raw_size, raw = struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * s)
        if va <= rva < va + max(vsize, raw_size): return rva - va + raw
    sys.exit("RVA %#x lies in no section" % rva)
if not rsrc_size: sys.exit("no resources, so no manifest")
base = offset(rsrc_rva)
def child(directory, wanted):  # the entry with id wanted, or the first one for None
    named, ids = struct.unpack_from("<12xHH", data, base + directory)
    for e in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * e)
        if wanted is None or name == wanted: return target & 0x7FFFFFFF
    sys.exit("no manifest (resource 1 of type 24)")
rva, size = struct.unpack_from("<II", data, base + child(child(child(0, 24), 1), None))
root = ET.fromstring(data[offset(rva):offset(rva) + size])
level = root.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
    sys.exit("the manifest does not run the program asInvoker without uiAccess")
ids = [e.get("Id").lower() for e in root.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
if "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" not in ids: sys.exit("the manifest does not name Windows 10/11")
print("; manifest: asInvoker, %d supported Windows versions" % len(ids))
PY
}
manifest=""
if [[ "${file,,}" == *.exe ]]; then
  if ! manifest=$(read_manifest "$file" 2>&1); then
    echo "$file: ${manifest##*$'\n'}" >&2
    status=1
  fi
fi
[ $status = 0 ] && echo "$file: exports ${*:-nothing checked}; imports only system DLLs$manifest"
exit $status
