#!/usr/bin/env bash
# Checks a built Windows file the way the loader will meet it:
#   pe_check.sh OBJDUMP FILE [EXPORT...]
#   pe_check.sh OBJDUMP FOLDER          (every .exe and .dll in it, at any depth)
# every named export is in the export table under its plain name, and the file needs no DLL
# beyond those every Windows system has (no libstdc++, libgcc or winpthread beside it).
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
[ $status = 0 ] && echo "$file: exports ${*:-nothing checked}; imports only system DLLs"
exit $status
