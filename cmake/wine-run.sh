#!/usr/bin/env bash
# Runs a Windows program under Wine in a test prefix of the build tree:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#   wine-run.sh PREFIX --prepare 32|64     (makes the prefix once, before the tests)
#   wine-run.sh PREFIX --skip-check PROGRAM (77 where PROGRAM would be skipped, else 0)
#   wine-run.sh PREFIX --server ARGS...    (that prefix's wineserver: -w waits for its session, -k ends it)
# 32-bit programs run in a 32-bit prefix, 64-bit ones in a 64-bit prefix. No Mono or Gecko
# prompts, no debug noise, and a Chinese locale so that Wine's ANSI code page is 936 as on the
# kit's users' machines. Exits 77 (a skipped test) when this machine's kernel cannot start
# 32-bit programs, which Wine needs for 32-bit Windows programs; any other failure of the 32-bit
# loader (not installed, broken) fails. WINE32_LOADER names another 32-bit loader (for tests).
# 64-bit programs (the win64 preset) run only where 32-bit ones cannot: elsewhere the win32 preset
# tests what ships and this exits 77; FORMWELL_WINE64_TESTS=1 runs them all the same.
# WINE_PREFIX_ARCH=win64 runs 32-bit programs in a 64-bit prefix, under WOW64 as on every 64-bit
# Windows; WINE_RUN_AS=USER runs Wine as that Unix user (who must own the prefix; give it its own
# TMPDIR and an XAUTHORITY it can read, since the environment is passed on as it is).
set -u
prefix="$1"
shift
# --skip-check PROGRAM answers only whether PROGRAM would run here: 77 (with the reason) or 0. Test
# drivers ask it before they start waiting for windows.
check_only=0
if [ "$1" = --skip-check ]; then
  check_only=1
  shift
fi
program="$1"

bits=64
if [ -f "$program" ] && [ "$(od -An -tx1 -j"$(( $(od -An -tu4 -j60 -N4 "$program") + 24 ))" -N2 "$program" | tr -d ' ')" = "0b01" ]; then
  bits=32 # the optional header's magic 0x10b is PE32; 0x20b is PE32+
fi
prepare=0
if [ "$program" = --prepare ]; then
  prepare=1
  bits="$2"
fi
as_user=()
[ -n "${WINE_RUN_AS:-}" ] && as_user=(setpriv --reuid "$WINE_RUN_AS" --regid "$WINE_RUN_AS" --init-groups)
if [ "$program" = --server ]; then
  shift
  WINEPREFIX="$prefix" exec "${as_user[@]}" /usr/lib/wine/wineserver "$@"
fi
wow64=0
[ "${WINE_PREFIX_ARCH:-}" = win64 ] && wow64=1
if [ "$bits" = 64 ] && [ "$wow64" = 0 ] && [ "${FORMWELL_WINE64_TESTS:-}" != 1 ] &&
   "${WINE32_LOADER:-/usr/lib/wine/wine}" --version >/dev/null 2>&1 </dev/null; then
  echo "wine-run: skipped: this machine starts 32-bit programs, so the win32 preset runs the Wine tests" \
       "(FORMWELL_WINE64_TESTS=1 runs the 64-bit build's as well)" >&2
  [ "$prepare" = 1 ] && exit 0
  exit 77
fi

if [ "$bits" = 32 ]; then
  loader="${WINE32_LOADER:-/usr/lib/wine/wine}"
  if [ ! -x "$loader" ]; then
    echo "wine-run: the 32-bit loader $loader is not installed (wine32; run scripts/setup.sh)" >&2
    exit 1
  fi
  if ! output=$("$loader" --version 2>&1 </dev/null); then
    # The kernel refuses the loader itself (ENOEXEC): the shell says "Exec format error".
    if grep -q "Exec format error" <<<"$output"; then
      echo "skipped: this kernel cannot start 32-bit programs, so Wine cannot run 32-bit Windows programs here" >&2
      [ "$prepare" = 1 ] && exit 0
      exit 77
    fi
    echo "wine-run: the 32-bit loader $loader fails: $output" >&2
    exit 1
  fi
  export WINEARCH=win32
  if [ "$wow64" = 1 ]; then
    loader=/usr/lib/wine/wine64 # it hands a 32-bit program to the 32-bit loader beside it
    export WINEARCH=win64
  fi
else
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64
fi
[ "$check_only" = 1 ] && exit 0
export WINELOADER="$loader"
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
export LC_ALL="${WINE_LC_ALL:-zh_CN.UTF-8}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "${as_user[@]}" "$loader" wineboot -i >/dev/null 2>&1
  "${as_user[@]}" /usr/lib/wine/wineserver -w
fi
# Windows that Wine manages itself (Managed=N): the tests' Xvfb has no window manager, and a managed
# window makes Wine wait about 2 s at every dialog close for a manager that never answers. Set once
# per prefix (also in prefixes made before this line existed); user.reg is written when the session ends.
if ! grep -qx '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "${as_user[@]}" "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "${as_user[@]}" /usr/lib/wine/wineserver -w
fi
[ "$prepare" = 1 ] && exit 0
# Wine's desktop process belongs to the wineserver session and stays bound to the X display that
# the session began on. The tests give each window test an Xvfb of its own, and one test's Wine
# programs follow another's closely enough to keep the session alive after that display is gone;
# windows of the next test then never appear. So a program started on another display than the
# session's begins a fresh session.
display_file="$WINEPREFIX/.formwell-display"
if [ "$(cat "$display_file" 2>/dev/null)" != "${DISPLAY:-none}" ]; then
  "${as_user[@]}" /usr/lib/wine/wineserver -k >/dev/null 2>&1
  "${as_user[@]}" /usr/lib/wine/wineserver -w >/dev/null 2>&1
  printf '%s' "${DISPLAY:-none}" >"$display_file"
fi
exec "${as_user[@]}" "$loader" "$@"
