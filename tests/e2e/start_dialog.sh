#!/usr/bin/env bash
# The start dialog as a person meets it, under Xvfb: natively, or under Wine when a runner is
# given (the Windows build).
#   start_dialog.sh DEMO STANDIN SHOTS_DIR [RUNNER...]
# Cases: Enter picks the account-opening form, Esc leaves the choice empty, a click on link 1061
# picks the default form, the pointer over a link turns it orange (and back when it leaves), and
# the chosen form starts formdesk (a stand-in that records its arguments) from a folder under
# "Program Files" without starting a planted "Program.exe". Screenshots go to SHOTS_DIR.
set -u
demo="$1"
standin="$2"
shots="$3"
shift 3
runner=("$@")

command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null || {
  echo "skipped: xvfb-run, xdotool or imagemagick missing" >&2
  exit 77
}
if [ ${#runner[@]} -gt 0 ]; then
  platform=wine
  # Where the runner would skip the program (a 32-bit one on a kernel that cannot start it, a 64-bit
  # one where the 32-bit build carries the Wine tests), so does the test.
  "${runner[@]}" --skip-check "$demo" || exit $?
else
  platform=linux
fi
mkdir -p "$shots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- one X session for all cases ---
cat >"$work/cases.sh" <<'EOS'
set -u
fail=0
say() { echo "[$platform] $*"; }
check() { # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then say "ok: $name"; else say "FAIL: $name"; fail=1; fi
}

# Starts the dialog; waits for its window and its report. Sets win, out.
start_dialog() {
  local name="$1"
  out="$work/out-$name.txt"
  shift
  "${runner[@]}" "$demo" "$@" >"$out" 2>"$out.err" &
  pid=$!
  win=""
  for _ in $(seq 1 600); do
    win=$(xdotool search --onlyvisible --classname 'start_dialog_demo' 2>/dev/null | head -1)
    [ -n "$win" ] && grep -q '^link1061=' "$out" && break
    sleep 0.1
  done
  [ -n "$win" ] || { say "FAIL: no window ($name)"; fail=1; kill "$pid" 2>/dev/null; cat "$out" "$out.err" >&2; xdotool search --classname start_dialog_demo >&2; echo "DISPLAY=$DISPLAY XAUTHORITY=${XAUTHORITY:-}" >&2; ls -la "${XAUTHORITY:-/none}" >&2; xdpyinfo >/dev/null && echo "display fine" >&2; cat "$work/xvfb.log" >&2; return 1; }
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  wx=$X; wy=$Y
  return 0
}

# Waits for the dialog's end and prints its result line.
finish() {
  for _ in $(seq 1 200); do
    grep -q '^result=' "$out" && break
    sleep 0.1
  done
  wait "$pid" 2>/dev/null
  grep '^result=' "$out" | tr -d '\r'
}

# Centre of a link in screen coordinates: LX, LY.
link_centre() {
  local r
  r=$(grep "^link$1=" "$out" | tr -d '\r' | cut -d= -f2)
  IFS=, read -r lx ly lw lh <<<"$r"
  # The Win32 dialog has a modal frame around its client area; the GTK window has none.
  local frame=$(( (WIDTH - cw) / 2 ))
  LX=$((wx + frame + lx + lw / 2))
  LY=$((wy + frame + ly + lh / 2))
}

# Pixels of the hover colour RGB(255,128,0) inside the link's rectangle of a screenshot.
orange_pixels() {
  local shot="$1"
  convert "$shot" -crop "${lw}x${lh}+$((LX - lw / 2))+$((LY - lh / 2))" +repage -fuzz 12% -fill black \
    +opaque 'rgb(255,128,0)' -fill white -opaque 'rgb(255,128,0)' -format '%[fx:round(mean*w*h)]' info:
}

# 1. Enter: the account-opening form; and the screenshot of the dialog.
if start_dialog enter; then
  cw=$(grep '^client=' "$out" | tr -d '\r' | cut -d= -f2 | cut -d' ' -f1 | cut -d, -f1)
  import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((wx - 20))+$((wy - 20))" "$shots/start_dialog_$platform.png"
  xdotool windowfocus "$win" 2>/dev/null; sleep 0.2; xdotool key Return
  check "Enter chooses the account-opening form" test "$(finish)" = "result=1 choice=Formwell"
fi

# 2. Esc: cancelled, no choice.
if start_dialog escape; then
  xdotool windowfocus "$win" 2>/dev/null; sleep 0.2; xdotool key Escape
  check "Esc leaves the choice empty" test "$(finish)" = "result=2 choice="
fi

# 3. Hover over link 1058 turns it orange and back; a click on link 1061 picks the default form.
if start_dialog click; then
  cw=$(grep '^client=' "$out" | tr -d '\r' | cut -d= -f2 | cut -d' ' -f1 | cut -d, -f1)
  link_centre 1058
  xdotool mousemove "$LX" "$LY"
  sleep 0.3
  xdotool mousemove "$((LX + 1))" "$LY"
  sleep 0.7
  import -window root "$work/hover.png"
  import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((wx - 20))+$((wy - 20))" "$shots/start_dialog_hover_$platform.png"
  hovered=$(orange_pixels "$work/hover.png")
  xdotool mousemove "$((wx + 5))" "$((wy + 5))"
  sleep 0.7
  import -window root "$work/left.png"
  left=$(orange_pixels "$work/left.png")
  check "the link turns orange under the pointer ($hovered pixels) and back when it leaves ($left)" \
    test "$hovered" -gt 20 -a "$left" -lt 3
  link_centre 1061
  xdotool mousemove "$LX" "$LY"
  sleep 0.3
  xdotool click 1
  check "a click on link 1061 chooses the default form" test "$(finish)" = "result=1 choice=AccountHelper"
fi

# 4. formdesk starts from the program folder, quoted, with -AC; a planted Program.exe stays idle.
root="$work/Program Files/Common Files/Formwell"
mkdir -p "$root"
cp "$standin" "$root/formdesk.exe"
cp "$standin" "$work/Program.exe"
cp "$standin" "$work/Program"
if [ "$platform" = wine ]; then
  folder="Z:$(echo "$root" | tr / '\\')\\"
else
  folder="$root/"
fi
if start_dialog launch "$folder"; then
  xdotool windowfocus "$win" 2>/dev/null; sleep 0.2; xdotool key Return
  finish >/dev/null
  for _ in $(seq 1 100); do [ -s "$root/formdesk-args.txt" ] && break; sleep 0.1; done
  line=$(tr -d '\r' <"$root/formdesk-args.txt" 2>/dev/null)
  say "formdesk stand-in: $line"
  check "formdesk starts with -AC from its folder" grep -q '^args: \[-AC\] cwd=.*Formwell' <<<"$line"
  check "no planted Program.exe ran" test ! -e "$work/formdesk-args.txt"
fi
exit $fail
EOS

# Arrays do not travel through the environment: the runner goes as a quoted string.
runner_q=""
[ ${#runner[@]} -gt 0 ] && runner_q=$(printf '%q ' "${runner[@]}")
# Our own authority file: another program cleaning /tmp cannot take the display from us.
# A display number of its own, far from the ones other test runs start at (:99 up).
xvfb-run -a -n $((300 + RANDOM % 600)) -f "$work/Xauthority" -e "$work/xvfb.log" -s "-noreset -screen 0 1024x768x24" bash -c "runner=($runner_q); $(declare -p work demo standin shots platform); source '$work/cases.sh'"
