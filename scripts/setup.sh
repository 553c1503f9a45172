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
  zlib1g-dev libminizip-dev libcurl4-openssl-dev libssl-dev libgtk-3-dev libwebkit2gtk-4.1-dev
  googletest libgtest-dev libgmock-dev
  # Windows builds: mingw-w64 for i686 (what we ship) and x86_64 (what Wine runs here), zlib for
  # them, and minizip's sources from binutils-source
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-source
  # Windows tests
  wine wine32:i386 wine64
  # compiled into a test's own folder (LOCPATH), never system-wide: profile names outside the code page
  locales
  # programs the kit starts, and the real parts the tests start
  qrencode zbar-tools tinyproxy openssl curl unzip libarchive-tools python3
  # desktop tests
  xvfb xauth xdotool imagemagick fonts-wqy-microhei fonts-liberation
  # the rare characters (CJK Extension B) of the printed forms, as the Debian package depends on it
  fonts-hanazono
  # the printed forms read back: pdftotext, pdftoppm
  poppler-utils
  # the Debian package: its desktop entry's check and lintian; Authenticode signing of the Windows
  # programs; nginx, the update server that the tests serve a published update with
  desktop-file-utils lintian osslsigncode nginx
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

# The Windows QR encoder is built from Debian's sources of qrencode and libpng
# (cmake/build_qrencode.sh fetches them with apt-get source), which needs a deb-src entry: one for
# bookworm, written the way Debian 12's own /etc/apt/sources.list.d/debian.sources writes its deb entries.
sources_missing=0
if ! apt-cache showsrc qrencode 2>/dev/null | grep -q '^Package: qrencode'; then
  sources_missing=1
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "setup: adding the deb-src entry /etc/apt/sources.list.d/formwell-src.sources"
    $SUDO tee /etc/apt/sources.list.d/formwell-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
fi

if [ ${#missing[@]} -eq 0 ] && [ $sources_missing = 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # Through env, since sudo resets the environment and would drop a variable set before it.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  # The tests start nginx themselves, on their own ports; a system nginx that the installation started
  # (its default site on port 80) is stopped and kept from starting at boot.
  if [[ " ${missing[*]} " == *" nginx "* ]]; then
    if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true
    else
      $SUDO service nginx stop >/dev/null 2>&1 || true
      $SUDO update-rc.d nginx disable >/dev/null 2>&1 || true
    fi
  fi
fi
