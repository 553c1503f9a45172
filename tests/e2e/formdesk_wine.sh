#!/usr/bin/env bash
# formdesk under Wine (run inside xvfb-run): the window with its title, the print values in the
# registry, gbconv.dll loaded by name; then the command handling through Wine's browser control,
# which raises BeforeNavigate2 for a Navigate with post data (browser_post_probe).
#   formdesk_wine.sh WINE_RUN PREFIX FORMDESK_EXE PROBE_EXE STANDIN_EXE
set -u
run="$1" prefix="$2" formdesk="$3" probe="$4" standin="$5"
export WINEPREFIX="$prefix"
work=$(mktemp -d)
trap 'WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
fail=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
# Skipped where wine-run.sh would skip the program (a 32-bit build on a kernel that cannot start it, a
# 64-bit one where the 32-bit build carries the Wine tests).
"$run" "$prefix" --skip-check "$formdesk" || exit $?
pe=$(od -An -tu4 -j60 -N4 "$formdesk" | tr -d ' ')
loader=/usr/lib/wine/wine64
[ "$(od -An -tx1 -j$((pe + 24)) -N2 "$formdesk" | tr -d ' ')" = 0b01 ] && loader=/usr/lib/wine/wine

version=2010.7.19.1
# reg.exe of the prefix's own bitness (wine-run.sh takes a name that is no file for 64-bit).
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$loader" reg add 'HKLM\software\orvanta\formwell' \
  /v currentversion /d $version /f >/dev/null 2>&1

# formdesk itself, in both modes.
for mode in default ac; do
  if [ $mode = ac ]; then title="自助开户软件 (版本 V$version)"; args=-AC; else title="Velor服务平台自助申请软件 (版本 V$version)"; args=; fi
  WINEDEBUG=+loaddll "$run" "$prefix" "$formdesk" $args >"$work/$mode.log" 2>&1 &
  pid=$!
  window=
  for _ in $(seq 1 90); do
    # xdotool matches names in the C locale: look for the version, then compare the whole title.
    for w in $(xdotool search --name "V$version" 2>/dev/null); do
      [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$title" ] && window=$w
    done
    [ -n "$window" ] && break
    sleep 1
  done
  check "$mode: the window '$title'" test -n "$window"
  sleep 2
  check "$mode: gbconv.dll loaded by name from beside the program" grep -q 'Loaded L".*\\gbconv.dll"' "$work/$mode.log"
  check "$mode: the browser control created" grep -q 'ieframe.dll' "$work/$mode.log"
  kill $pid 2>/dev/null
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  wait $pid 2>/dev/null
  /usr/lib/wine/wineserver -w
done

# The print values, as Windows keeps them (the footer in UTF-16, the header empty).
/usr/lib/wine/wineserver -w
page_setup() { grep -a -A8 '^\[Software\\\\Microsoft\\\\Internet Explorer\\\\PageSetup\]' "$prefix/user.reg"; }
footer='"footer"="&b\x672c\x5957\x8d44\x6599\x603b\x5171&P\x9875\xff0c\x5f53\x524d\x7b2c&p\x9875\x3002\x6253\x5370\x65f6\x95f4\xff1a&d"'
section=$(page_setup)
check "footer" grep -qF "$footer" <<<"$section"
check "header empty" grep -qE '"header"=(""|hex\(1\):)$' <<<"$section"
for m in bottom left right top; do check "margin_$m" grep -qF "\"margin_$m\"=\"0.21654\"" <<<"$section"; done
check "Print_Background" grep -qF '"Print_Background"="yes"' "$prefix/user.reg"
# Internet Explorer 11's mode (11001) for the browser control of the program file, by its name.
check "FEATURE_BROWSER_EMULATION" grep -qxF "\"$(basename "$formdesk")\"=dword:00002af9" \
  <(grep -a -A4 '^\[Software\\\\Microsoft\\\\Internet Explorer\\\\Main\\\\FeatureControl\\\\FEATURE_BROWSER_EMULATION\]' "$prefix/user.reg")

# Under an ANSI code page without Chinese (1252, for en_US) the footer is still the Chinese text, not
# question marks. The page setup goes first, so what is read is this run's (margin_top comes last).
setup_reg() { WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$loader" reg "$1" 'HKCU\Software\Microsoft\Internet Explorer\PageSetup' "${@:2}" >/dev/null 2>&1; }
setup_reg delete /f
WINE_LC_ALL=en_US.UTF-8 "$run" "$prefix" "$formdesk" >"$work/en_US.log" 2>&1 &
pid=$!
for _ in $(seq 1 90); do setup_reg query /v margin_top && break; sleep 1; done
kill $pid 2>/dev/null
/usr/lib/wine/wineserver -k >/dev/null 2>&1
wait $pid 2>/dev/null
/usr/lib/wine/wineserver -w
check "code page 1252: footer" grep -qF "$footer" <<<"$(page_setup)"

# The page commands through Wine's WebBrowser control.
mkdir -p "$work/cf/Formwell/eb_df/images" "$work/cf/Formwell/qrencode"
echo '<html><body>probe</body></html>' >"$work/cf/Formwell/eb_df/index.html"
cp "$standin" "$work/cf/Formwell/qrencode/qrencode.exe"
(cd "$work/cf/Formwell" && FORMDESK_STANDIN_LOG="Z:$work/encoder.txt" timeout 120 "$run" "$prefix" "$probe" "Z:$work/cf" "Z:$work/probe.log" >/dev/null 2>&1)
tr -d '\r' <"$work/probe.log" >"$work/probe.txt" # the probe writes text-mode lines
echo "--- what the control raised:"; cat "$work/probe.txt"; echo "---"
page='top=1 from=[^ ]*eb_df[/\\]index.html'
check "BeforeNavigate2 for the SAVE post from the package's page, with a body of its length, cancelled; json.sav holds all but 4 bytes" \
  grep -qE "eb_df\\\\SAVE $page post=30:[0-9a-f]{60} cancel=1 saved=26$" "$work/probe.txt"
check "BeforeNavigate2 for the CREATE_PNG post, cancelled" grep -qE "eb_df\\\\CREATE_PNG $page post=33:[0-9a-f]{66} cancel=1" "$work/probe.txt"
check "the encoder ran hidden and was waited for, its output in a temporary folder, level H" \
  grep -qE '^args: \[-o\] \[.*\\encryption.png\] \[-l\] \[H\] \[.*0071901\]' "$work/encoder.txt"
check "RESET emptied json.sav" grep -qE "eb_df\\\\RESET $page post=none cancel=1 saved=0$" "$work/probe.txt"
check "RESET went to the start page" grep -qE 'eb_df[/\\]index.html top=1 from=.* post=none cancel=0' "$work/probe.txt"
check "the probe ended normally" grep -q '^ended 1$' "$work/probe.txt"
exit $fail
