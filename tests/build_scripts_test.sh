#!/usr/bin/env bash
# The build's scripts fail loudly instead of quietly doing less:
#   build_scripts_test.sh SOURCE-DIR
# - cmake/wine-run.sh skips (exit 77; 0 when preparing) only when the kernel refuses to start the
#   32-bit loader ("Exec format error"), and fails when the loader is missing or broken;
# - cmake/stage_package.sh fails when node is missing or the form assembly fails, rather than
#   packing placeholder pages.
set -u
src="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
check() { # what expected-exit command...
  local what="$1" want="$2"
  shift 2
  "$@" >"$work/out" 2>&1
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want" >&2
    cat "$work/out" >&2
    status=1
  else
    echo "ok: $what"
  fi
}

# A 32-bit loader the kernel cannot start: an ELF file for another machine (MIPS).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x08\x00' >"$work/foreign"
head -c 100 /dev/zero >>"$work/foreign"
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 3\n' >"$work/broken"
chmod +x "$work/foreign" "$work/broken"
# A PE32 program for the runs (the optional header's magic 0x10b at 0x40 + 24).
python3 - "$work/prog.exe" <<'PY'
import struct, sys
b = bytearray(512)
b[0:2] = b"MZ"
struct.pack_into("<I", b, 60, 64)
b[64:68] = b"PE\0\0"
struct.pack_into("<H", b, 64 + 24, 0x10B)
open(sys.argv[1], "wb").write(b)
PY
run=("$src/cmake/wine-run.sh" "$work/prefix")
check "wine-run: kernel without 32-bit support, prepare" 0 env WINE32_LOADER="$work/foreign" "${run[@]}" --prepare 32
check "wine-run: kernel without 32-bit support, run" 77 env WINE32_LOADER="$work/foreign" "${run[@]}" "$work/prog.exe"
check "wine-run: broken loader, prepare" 1 env WINE32_LOADER="$work/broken" "${run[@]}" --prepare 32
check "wine-run: broken loader, run" 1 env WINE32_LOADER="$work/broken" "${run[@]}" "$work/prog.exe"
check "wine-run: missing loader" 1 env WINE32_LOADER="$work/missing" "${run[@]}" "$work/prog.exe"

# The package without node, and with an assembly that fails.
mkdir -p "$work/bin"
touch "$work/bin/libgbconv.so"
stage=(bash "$src/cmake/stage_package.sh" linux /bin/true "$work/tm.zip" "$work/stage" "$src/forms" "$work/bin")
check "stage_package: node missing" 1 env NODE="$work/no-node" "${stage[@]}"
check "stage_package: assembly fails" 1 env NODE=false "${stage[@]}"
grep -rqs "arrives with a later version" "$work/stage/forms/eb_df" && { echo "FAIL: eb_df placeholder staged" >&2; status=1; }
exit $status
