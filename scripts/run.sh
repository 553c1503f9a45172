#!/usr/bin/env bash
# Starts the most complete program of the kit that the build has.
set -eu
build="$1"
if [ -x "$build/bin/formwell" ]; then
  exec "$build/bin/formwell"
fi
echo "The kit's programs are not there yet: this build has the platform layer and the gbconv library"
echo "($build/bin/libgbconv.so, and build/win32/bin/gbconv.dll for Windows). 'make test' runs their tests."
