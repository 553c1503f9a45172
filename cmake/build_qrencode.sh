#!/usr/bin/env bash
# Builds the QR encoder that the Windows package carries, qrencode.exe, from Debian's sources:
#   build_qrencode.sh CC WORK-DIR OUT-EXE MANIFEST
# CC is the mingw-w64 C compiler (i686-w64-mingw32-gcc or x86_64-w64-mingw32-gcc); its windres
# (the name's "-gcc..." turned into "-windres") links MANIFEST in as the program's application manifest,
# the one every program of the kit carries (cmake/windows.manifest). The upstream
# tarballs of qrencode 4.1.1 and libpng1.6 are fetched once into WORK-DIR/src with
# `apt-get source --download-only`, each checked against the SHA-256 its .dsc names, and compiled
# straight from their C files: the program links libqrencode, libpng and Debian's mingw zlib
# statically, so qrencode/ needs no DLL beside it. Only the Debian patch tarballs may be missing
# (they are not used); anything else failing fails the build.
set -euo pipefail
cc="$1" work="$2" out="$3" manifest="$4"
windres="${cc%-gcc*}-windres" # i686-w64-mingw32-gcc-posix: i686-w64-mingw32-windres
qrencode_version=4.1.1

src="$work/src"
mkdir -p "$src"

# fetch PACKAGE TARBALL-GLOB: the .dsc and the upstream tarball, reusing them when already there.
fetch() {
  local package="$1" glob="$2"
  if ! compgen -G "$src/$glob" >/dev/null || ! compgen -G "$src/${package}_*.dsc" >/dev/null; then
    # apt verifies every file it fetches against the signed Sources index; a Debian patch tarball
    # that the mirror no longer has makes apt-get fail although everything we use arrived.
    (cd "$src" && apt-get source --download-only -q "$package" >"$work/fetch-$package.log" 2>&1) || true
  fi
  local dsc tarball
  dsc=$(compgen -G "$src/${package}_*.dsc" | sort | tail -n1) || {
    echo "qrencode: no .dsc for $package (is a deb-src entry configured? run scripts/setup.sh)" >&2
    cat "$work/fetch-$package.log" >&2 2>/dev/null || true
    exit 1
  }
  tarball=$(compgen -G "$src/$glob" | sort | tail -n1) || {
    echo "qrencode: the upstream tarball of $package did not arrive" >&2
    cat "$work/fetch-$package.log" >&2 2>/dev/null || true
    exit 1
  }
  check "$dsc" "$tarball"
  echo "$tarball"
}

# check DSC TARBALL: the tarball's size and SHA-256 are those of its line in Checksums-Sha256.
check() {
  local dsc="$1" tarball="$2" name expected actual
  name=$(basename "$tarball")
  expected=$(awk -v name="$name" '
    /^Checksums-Sha256:/ { inside = 1; next }
    /^[^ ]/ { inside = 0 }
    inside && $3 == name { print $1 " " $2 }' "$dsc")
  if [ -z "$expected" ]; then
    echo "qrencode: $(basename "$dsc") names no SHA-256 for $name" >&2
    exit 1
  fi
  actual="$(sha256sum "$tarball" | cut -d' ' -f1) $(stat -c %s "$tarball")"
  if [ "$actual" != "$expected" ]; then
    echo "qrencode: $name does not match its .dsc (expected $expected, got $actual); removing it" >&2
    rm -f "$tarball"
    exit 1
  fi
}

qr_tarball=$(fetch qrencode "qrencode_${qrencode_version}.orig.tar.*")
png_tarball=$(fetch libpng1.6 "libpng1.6_*.orig.tar.*")

build="$work/build-$("$cc" -dumpmachine)"
rm -rf "$build"
mkdir -p "$build"
tar -xf "$qr_tarball" -C "$build"
tar -xf "$png_tarball" -C "$build"
qr=$(compgen -G "$build/qrencode-*/")
png=$(compgen -G "$build/libpng-*/")
qr="${qr%/}" png="${png%/}"

# libpng's configuration header as upstream ships it for builds without its configure step.
cp "$png/scripts/pnglibconf.h.prebuilt" "$png/pnglibconf.h"

# Reproducible: no build folder in the objects, no link time in the PE header.
cflags=(-O2 -w -DNDEBUG "-ffile-prefix-map=$build=/usr/src/qrencode")
objects=()
compile() { # compile SOURCE FLAGS...
  local source="$1" object
  shift
  object="$build/obj/$(basename "$(dirname "$source")")-$(basename "${source%.c}").o"
  mkdir -p "$build/obj"
  "$cc" "${cflags[@]}" "$@" -c "$source" -o "$object"
  objects+=("$object")
}
for f in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans pngwio \
  pngwrite pngwtran pngwutil; do
  compile "$png/$f.c" -I"$png"
done
qr_defines=(-DHAVE_PNG=1 -DMAJOR_VERSION=4 -DMINOR_VERSION=1 -DMICRO_VERSION=1
  "-DVERSION=\"$qrencode_version\"" -DSTATIC_IN_RELEASE=static -DHAVE_STRDUP=1 -I"$qr" -I"$png")
for f in bitstream mask mmask mqrspec qrencode qrinput qrspec rsecc split qrenc; do
  compile "$qr/$f.c" "${qr_defines[@]}"
done

# The manifest as resource 1 of type 24 (RT_MANIFEST), language neutral: without it Windows takes the
# program for a legacy one, and a standard user's writes that it may not make go to a VirtualStore.
cp "$manifest" "$build/qrencode.manifest"
printf 'LANGUAGE 0, 0\n1 24 "qrencode.manifest"\n' >"$build/manifest.rc"
(cd "$build" && "$windres" -i manifest.rc -O coff -o manifest.o)
objects+=("$build/manifest.o")

mkdir -p "$(dirname "$out")"
"$cc" -static -s -Wl,--no-insert-timestamp -o "$out.tmp" "${objects[@]}" -lz
mv -f "$out.tmp" "$out"
rm -rf "$build"
