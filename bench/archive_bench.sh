#!/usr/bin/env bash
# Times the installation's extraction against Info-ZIP unzip and bsdtar on one package-like ZIP
# archive (about 100 MB in 2,000 files: pages, scripts and styles that compress well, pictures and
# programs that do not), alternating the three, several runs, and prints the medians and our
# peak memory. Not a test: run it by hand on a quiet machine.
#   bench/archive_bench.sh [RUNS]      (builds the linux preset's archive_extract first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs="${1:-5}"
cmake --preset linux >/dev/null
cmake --build --preset linux --target archive_extract >/dev/null
ours="$root/build/linux/bin/archive_extract"

# No dot in the working folder's path: the extraction takes any path with a dot for a file.
work=$(mktemp -d /tmp/fwbenchXXXXXX)
trap 'rm -rf "$work"' EXIT
python3 - "$work/src" <<'PY'
import os, random, sys
random.seed(7)
root = sys.argv[1]
words = ("form user account rights company address bank velor print sign check value "
         "function return var this data json page table row column input select").split()
total = 0
for i in range(2000):
    folder = os.path.join(root, "pkg%02d" % (i % 20), "sub%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    size = random.randint(10_000, 90_000)
    if i % 5 < 3:  # text: pages, scripts, styles
        text = []
        n = 0
        while n < size:
            w = random.choice(words) + random.choice([" ", "\n", "(", ");", " = "])
            text.append(w)
            n += len(w)
        data = "".join(text).encode()
        name = "file%04d.%s" % (i, random.choice(["html", "js", "css"]))
    else:          # pictures and programs: hardly compressible
        data = os.urandom(size)
        name = "file%04d.%s" % (i, random.choice(["png", "dll", "exe"]))
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    total += len(data)
print("bench: %d files, %.1f MB" % (2000, total / 1e6), file=sys.stderr)
PY
(cd "$work/src" && zip -qr -9 "$work/package.zip" .)
echo "bench: archive $(du -m "$work/package.zip" | cut -f1) MB"

declare -A times mems
run() { # name command...
  local name="$1"
  shift
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
  local stat
  /usr/bin/time -o "$work/stat" -f "%e %M" "$@" >/dev/null 2>&1
  stat=$(tail -1 "$work/stat")
  times[$name]+="${stat%% *} "
  mems[$name]+="${stat##* } "
}
for ((r = 1; r <= runs; r++)); do
  run ours "$ours" "$work/package.zip" "$work/out"
  [ "$(find "$work/out" -type f | wc -l)" = 2000 ] || { echo "bench: our extraction is incomplete" >&2; exit 1; }
  run unzip unzip -o -q "$work/package.zip" -d "$work/out"
  run bsdtar bsdtar -xf "$work/package.zip" -C "$work/out"
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
m_ours=$(median <<<"${times[ours]}")
m_unzip=$(median <<<"${times[unzip]}")
m_bsdtar=$(median <<<"${times[bsdtar]}")
echo "bench: median wall time over $runs runs: ours ${m_ours}s, unzip ${m_unzip}s, bsdtar ${m_bsdtar}s"
awk -v o="$m_ours" -v u="$m_unzip" -v b="$m_bsdtar" 'BEGIN {printf "bench: ours/unzip %.2f, ours/bsdtar %.2f (goal: ours/unzip at most 1.25)\n", o/u, o/b}'
echo "bench: peak memory (max RSS, KiB): ours $(median <<<"${mems[ours]}"), unzip $(median <<<"${mems[unzip]}"), bsdtar $(median <<<"${mems[bsdtar]}")"
