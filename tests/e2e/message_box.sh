#!/usr/bin/env bash
# A worker thread's message box, under Xvfb (natively, or under Wine with a runner): it appears
# while the dialog runs, Enter answers it (Yes is the default), and the worker gets that answer.
#   message_box.sh DEMO SHOTS_DIR [RUNNER...]
set -u
demo="$1"
shots="$2"
shift 2
runner=("$@")
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || exit 77
platform=linux
if [ ${#runner[@]} -gt 0 ]; then
  platform=wine
  "${runner[@]}" --skip-check "$demo" || exit $? # as wine-run.sh would skip it
fi
mkdir -p "$shots"
out=$(mktemp)
trap 'rm -f "$out" "$out.Xauthority"' EXIT
runner_q=""
[ ${#runner[@]} -gt 0 ] && runner_q=$(printf '%q ' "${runner[@]}")
xvfb-run -a -n $((300 + RANDOM % 600)) -f "$out.Xauthority" -s "-noreset -screen 0 800x600x24" bash -c "
  runner=($runner_q)
  \"\${runner[@]}\" '$demo' >'$out' 2>'$out.err' &
  pid=\$!
  box=''
  for _ in \$(seq 1 600); do
    box=\$(xdotool search --onlyvisible --name '^formwell ' 2>/dev/null | head -1)
    [ -n \"\$box\" ] && break
    kill -0 \$pid 2>/dev/null || break
    sleep 0.1
  done
  [ -n \"\$box\" ] || { echo 'FAIL: no message box'; kill \$pid; exit 1; }
  sleep 0.5
  import -window root '$shots/worker_message_box_$platform.png'
  xdotool windowfocus \"\$box\" 2>/dev/null; sleep 0.2; xdotool key Return
  for _ in \$(seq 1 100); do grep -q '^result=' '$out' && break; sleep 0.1; done
  kill \$pid 2>/dev/null
  wait \$pid 2>/dev/null
  exit 0
" 2>&1 | grep -v XGetInputFocus
answer=$(grep '^answer=' "$out" | tr -d '\r')
result=$(grep '^result=' "$out" | tr -d '\r')
echo "[$platform] $answer $result"
rm -f "$out.err"
[ "$answer" = "answer=6" ] && [ "$result" = "result=6" ]
