#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the kit need.
# Idempotent: packages already present are not fetched again, and apt-get update runs
# only when something is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  # native build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  zlib1g-dev libminizip-dev libcurl4-openssl-dev libgtk-3-dev libwebkit2gtk-4.1-dev
  googletest libgtest-dev libgmock-dev
  # Windows builds: mingw-w64 for i686 (what we ship) and x86_64 (what Wine runs here), zlib for
  # them, and minizip's sources from binutils-source
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-source
  # Windows tests
  wine wine32:i386 wine64
  # programs the kit starts, and the real parts the tests start
  qrencode zbar-tools tinyproxy openssl curl unzip libarchive-tools python3
  # desktop tests
  xvfb xauth xdotool imagemagick fonts-wqy-microhei fonts-liberation
  # page tests
  chromium
)
# Node.js may come from elsewhere than Debian (its own nodejs package carries npm and conflicts with
# Debian's npm): only ask for them when the commands are missing.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
