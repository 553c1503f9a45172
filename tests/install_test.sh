#!/usr/bin/env bash
# The first start of formwell as a user meets it, on a disk that fills up while the carried
# package is written (a file-size limit, with SIGXFSZ ignored so that the write fails rather than
# the process): the start fails and records no installed version; the next start installs.
#   install_test.sh FORMWELL-PROGRAM
set -u
formwell="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
unset DISPLAY WAYLAND_DISPLAY # a message box would only go to standard error
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
version() { grep -rhs '"currentversion"' "$XDG_CONFIG_HOME" || true; }

(
  trap '' XFSZ
  ulimit -f 256
  exec "$formwell"
) >"$work/out" 2>&1
code=$?
[ "$code" != 0 ] || fail "the start with a full disk exited 0"
[ -z "$(version)" ] || fail "the start with a full disk recorded $(version)"
[ ! -e "$XDG_DATA_HOME/Formwell/tm.zip" ] || fail "a cut tm.zip was left"
echo "full disk: exit $code, no version recorded"

"$formwell" >"$work/out" 2>&1 || fail "the next start failed: $(cat "$work/out")"
[ "$(version)" = '"currentversion"="1.0.0.0"' ] || fail "the next start recorded '$(version)'"
[ -f "$XDG_DATA_HOME/Formwell/eb_df/index.html" ] || fail "the next start did not install eb_df"
echo "next start: installed, $(version)"
exit $status
