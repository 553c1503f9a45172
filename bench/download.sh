#!/usr/bin/env bash
# Download throughput of CHttpClient against curl: one 200 MB file from the local update
# server (127.0.0.1:8080), fetched to a file with 16 KiB reads by http_fetch and with
# `curl -o`, alternately, several runs each; prints both medians and their ratio.
#   bench/download.sh [BUILD_DIR] [RUNS]      (defaults: build/linux, 5)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/linux}"
runs="${2:-5}"
fetch="$build/bin/http_fetch"
[ -x "$fetch" ] || { echo "bench: build http_fetch first (cmake --build --preset linux)" >&2; exit 1; }

work="$(mktemp -d)"
state="$work/servers.json"
cleanup() { python3 "$here/../tests/net/servers.py" stop "$state" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir "$work/root"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$work/root/big.bin"
size=$(stat -c %s "$work/root/big.bin")
python3 "$here/../tests/net/servers.py" start "$state" --root "$work/root"
url="http://127.0.0.1:8080/files/big.bin"

calc() { python3 -c "print($1)"; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); calc "$t1 - $t0"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

: >"$work/client" && : >"$work/curl"
for i in $(seq "$runs"); do
  seconds "$fetch" "$url" "$work/out" >>"$work/client"
  [ "$(stat -c %s "$work/out")" = "$size" ] || { echo "bench: http_fetch got a short file" >&2; exit 1; }
  rm -f "$work/out"
  seconds curl -s -o "$work/out" "$url" >>"$work/curl"
  rm -f "$work/out"
done
c=$(median <"$work/client")
k=$(median <"$work/curl")
mb=$(calc "$size / 1048576")
printf 'CHttpClient: median %.3f s, %.0f MiB/s\n' "$c" "$(calc "$mb / $c")"
printf 'curl -o:     median %.3f s, %.0f MiB/s\n' "$k" "$(calc "$mb / $k")"
printf 'ratio (CHttpClient / curl throughput): %.2f over %d runs each\n' "$(calc "$k / $c")" "$runs"
