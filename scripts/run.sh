#!/usr/bin/env bash
# Starts the most complete program of the kit that the build has.
set -eu
build="$1"
# WebKit's sandbox does not start for root (our machines run as root): formdesk's browser then
# runs without it.
if [ "$(id -u)" = 0 ]; then export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1; fi
if [ -x "$build/bin/formwell" ]; then
  "$build/bin/formwell"
  status=$?
  data="${XDG_DATA_HOME:-$HOME/.local/share}"
  echo "formwell ended ($status). Unless the registry names another Common Files folder, the package is"
  echo "installed in $data/Formwell/ and its version is in ${XDG_CONFIG_HOME:-$HOME/.config}/formwell/HKEY_LOCAL_MACHINE.reg."
  echo "The start dialog, the update and formdesk are not built yet."
  exit $status
fi
echo "formwell is not built: $build/bin has no formwell program."
exit 1
