#!/usr/bin/env bash
# Times the installation's extraction against Info-ZIP unzip and bsdtar on one package-like ZIP
# archive (about 100 MB in 2,000 files: pages, scripts and styles that compress well, pictures and
# programs that do not), alternating the three, several runs, and prints the medians and our
# peak memory. Then two figures of our own: the peak memory of extracting one 1 GiB entry (the
# extraction streams each entry into its file), and the time to read every entry of a .tgz of
# 20,000 entries (the tar archive is walked once). Not a test: run it by hand on a quiet machine.
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
awk -v o="$m_ours" -v u="$m_unzip" -v b="$m_bsdtar" 'BEGIN {printf "bench: ours/unzip %.2f, ours/bsdtar %.2f (goal: ours/unzip at most 0.8)\n", o/u, o/b}'
echo "bench: peak memory (max RSS, KiB): ours $(median <<<"${mems[ours]}"), unzip $(median <<<"${mems[unzip]}"), bsdtar $(median <<<"${mems[bsdtar]}")"

# One large entry: 1 GiB that compresses well, so the archive is small and the disk is the work.
python3 - "$work/large.zip" <<'PY'
import sys, zipfile
piece = (b"formwell large entry " * 52429)[: 1 << 20]
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    with z.open("large.bin", "w", force_zip64=True) as f:
        for _ in range(1024):
            f.write(piece)
PY
rm -rf "$work/out" && mkdir -p "$work/out"
/usr/bin/time -o "$work/stat" -f "%e %M" "$ours" "$work/large.zip" "$work/out"
[ "$(stat -c %s "$work/out/large.bin")" = $((1 << 30)) ] || { echo "bench: the large entry is incomplete" >&2; exit 1; }
stat=$(tail -1 "$work/stat")
echo "bench: one 1 GiB entry ($(du -k "$work/large.zip" | cut -f1) KiB archive): ${stat%% *}s, peak memory ${stat##* } KiB"
rm -rf "$work/out" "$work/large.zip"

# A .tgz of 20,000 empty entries (about 40 KB), every entry read.
python3 - "$work/many.tgz" <<'PY'
import io, sys, tarfile
with tarfile.open(sys.argv[1], "w:gz") as t:
    for i in range(20000):
        t.addfile(tarfile.TarInfo("e%05d" % i), io.BytesIO(b""))
PY
/usr/bin/time -o "$work/stat" -f "%e %U %M" "$ours" --read "$work/many.tgz" >/dev/null
stat=$(tail -1 "$work/stat")
read -r wall user mem <<<"$stat"
echo "bench: 20,000-entry .tgz ($(du -k "$work/many.tgz" | cut -f1) KiB), every entry read: ${wall}s wall, ${user}s CPU, peak memory ${mem} KiB"
