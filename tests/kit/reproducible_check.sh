#!/usr/bin/env bash
# Two builds of the same sources in two different folders give byte-identical dist/formwell.exe and
# Debian package, and neither names the folders it was built in:
#   reproducible_check.sh SOURCE-DIR WORK-DIR
# The checkout's files (committed and new ones, not ignored ones) are copied into two folders of
# different names and lengths; each builds only what `make dist` ships (the win32 dist_program and
# the linux deb), without a compiler cache. forms/node_modules and the fetched upstream tarballs of
# the QR encoder are copied too, so that nothing is fetched again (they are inputs, checked as ever).
# SOURCE_DATE_EPOCH is that of the last commit, as a build from the checkout takes it.
set -u
src="$1" work="$2"
rm -rf "$work"
mkdir -p "$work"
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
copies=("$work/one/formwell" "$work/the second build/src")

build() { # build COPY: copies the sources there and builds what leaves the machine
  local copy="$1"
  mkdir -p "$copy"
  (cd "$src" && git ls-files -z --cached --others --exclude-standard | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh |
    tar --null -T - -cf -) | tar -xf - -C "$copy" || return 1
  cp -a "$src/forms/node_modules" "$copy/forms/" || return 1
  local tarballs
  tarballs=$(compgen -G "$src/build/*/_deps/qrencode/src" | head -n1)
  if [ -n "$tarballs" ]; then
    mkdir -p "$copy/build/win32/_deps/qrencode"
    cp -a "$tarballs" "$copy/build/win32/_deps/qrencode/src"
  fi
  (cd "$copy" && cmake --preset win32 && cmake --build --preset win32 --target dist_program &&
    cmake --preset linux && cmake --build --preset linux --target deb) >"$copy.log" 2>&1 ||
    { tail -n 30 "$copy.log" >&2; return 1; }
}
for copy in "${copies[@]}"; do
  build "$copy" || { echo "FAIL: the build in '$copy' failed" >&2; exit 1; }
done

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
a="${copies[0]}" b="${copies[1]}"
deb_a=$(compgen -G "$a/build/linux/deb/formwell_*.deb") deb_b=$(compgen -G "$b/build/linux/deb/formwell_*.deb")
pairs=("$a/build/win32/dist/formwell.exe|$b/build/win32/dist/formwell.exe" "$deb_a|$deb_b")
for pair in "${pairs[@]}"; do
  one="${pair%%|*}" two="${pair##*|}"
  if ! cmp "$one" "$two"; then
    fail "$(basename "$one") differs between the two builds ($(stat -c %s "$one") and $(stat -c %s "$two") bytes)"
  fi
done
if [ -n "$deb_a" ] && ! cmp -s "$deb_a" "$deb_b"; then
  diff <(dpkg-deb -c "$deb_a") <(dpkg-deb -c "$deb_b") | head -n 10 >&2
fi

# Neither build's programs (those carried inside the others included) name a folder of the build.
for copy in "${copies[@]}"; do
  root="$copy.unpacked"
  mkdir -p "$root"
  dpkg-deb -x "$(compgen -G "$copy/build/linux/deb/formwell_*.deb")" "$root"
  for f in "$copy/build/win32/dist/formwell.exe" "$copy"/build/*/package/stage/programs/* \
    "$copy/build/win32/package/stage/qrencode/qrencode.exe" $(find "$root" -type f); do
    if strings -a "$f" | grep -qF -e "$work"; then
      fail "$f names the build's folder: $(strings -a "$f" | grep -F -m1 "$work")"
    fi
  done
done
[ $status = 0 ] && echo "ok: byte-identical formwell.exe and $(basename "$deb_a") from two folders"
exit $status
