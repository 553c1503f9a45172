#!/usr/bin/env bash
# Checks that a Linux shared library exports exactly the named routines and nothing else:
#   elf_check.sh NM FILE EXPORT...
set -u
nm="$1" file="$2"
shift 2
got=$("$nm" -D --defined-only "$file" | awk '{print $NF}' | sort) || exit 1
want=$(printf '%s\n' "$@" | sort)
if [ "$got" != "$want" ]; then
  echo "$file exports:" >&2
  echo "$got" >&2
  echo "instead of exactly: $*" >&2
  exit 1
fi
echo "$file: exports exactly $*"
