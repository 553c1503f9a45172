#!/usr/bin/env bash
# Starts formwell as a customer would: on a desktop its windows appear; without a display it runs
# under Xvfb, saves screenshots of what it shows, and says where. Afterwards it says what was
# installed, and whether formdesk could be started.
#   scripts/run.sh BUILD-DIR
set -u
build="$(cd "$1" && pwd)"
# WebKit's sandbox does not start for root (our machines run as root): formdesk's browser then
# runs without it.
if [ "$(id -u)" = 0 ]; then export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1; fi
program="$build/bin/formwell"
shots="$build/run-screenshots"
if [ ! -x "$program" ]; then
  echo "formwell is not built: $build/bin has no formwell program."
  exit 1
fi

data="${XDG_DATA_HOME:-$HOME/.local/share}"
hive="${XDG_CONFIG_HOME:-$HOME/.config}/formwell/HKEY_LOCAL_MACHINE.reg"
# The program folder: CommonFilesDir from the hive when it names one, else the data folder.
common=""
if [ -f "$hive" ]; then
  common="$(awk -F'"' 'tolower($0) ~ /^\[hkey_local_machine\\software\\microsoft\\windows\\currentversion\]/ {s=1; next}
                       /^\[/ {s=0} s && tolower($2) == "commonfilesdir" {print $4}' "$hive" | sed 's/\\\\/\//g')"
fi
folder="${common:-$data}/Formwell"

report() {
  local status="$1"
  echo "formwell ended ($status)."
  echo "Program folder: $folder/ (installed version in $hive)."
  if [ ! -e "$folder/formdesk.exe" ]; then
    echo "formdesk is not there yet: $folder/formdesk.exe is missing, so formwell started no form"
    echo "workstation (it stays silent about that, as it does for customers)."
  fi
}

# Under Xvfb: wait for a window, photograph it, answer it, until formwell ends.
headless() {
  mkdir -p "$shots"
  rm -f "$shots"/*.png
  "$program" &
  local pid=$! n=0 seen=""
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    local win
    win="$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1)"
    if [ -n "$win" ] && [ "$win" != "$seen" ]; then
      sleep 0.5
      n=$((n + 1))
      local name
      name="$(xdotool getwindowname "$win" 2>/dev/null)"
      import -window root "$shots/$n.png" 2>/dev/null
      if [ -n "$name" ]; then
        echo "screenshot $shots/$n.png: the window \"$name\""
      else
        echo "screenshot $shots/$n.png: the start dialog (no title)"
      fi
      seen="$win"
      # The start dialog: Esc picks the default form. The update dialog: Esc leaves it without
      # updating.
      xdotool windowfocus --sync "$win" key Escape 2>/dev/null || xdotool key --window "$win" Escape
    fi
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    echo "formwell did not end within a minute; stopped."
  fi
  wait "$pid"
  local status=$?
  # formdesk runs on after formwell: photograph its window too, then close it.
  if [ -e "$folder/formdesk.exe" ]; then
    local desk=""
    for _ in $(seq 1 75); do
      desk="$(xdotool search --onlyvisible --classname formdesk 2>/dev/null | head -1)"
      [ -n "$desk" ] && break
      sleep 0.2
    done
    if [ -n "$desk" ]; then
      sleep 3 # the form page loads
      n=$((n + 1))
      import -window root "$shots/$n.png" 2>/dev/null
      echo "screenshot $shots/$n.png: formdesk, the form workstation"
      local deskpid
      deskpid="$(xdotool getwindowpid "$desk" 2>/dev/null)"
      [ -n "$deskpid" ] && kill "$deskpid" 2>/dev/null
    fi
  fi
  echo "The screenshots are in $shots/."
  report "$status"
  exit "$status"
}

if [ "${1:-}" = --headless ] || [ "${2:-}" = --headless ]; then
  headless
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running formwell under Xvfb; its windows are photographed into $shots/."
  exec xvfb-run -a -n $((300 + RANDOM % 600)) -s "-noreset -screen 0 1280x1024x24" bash "$0" "$build" --headless
fi
"$program"
status=$?
report "$status"
exit "$status"
