#!/usr/bin/env bash
# Installs every Debian package Kestrane needs and builds the bundle in
# build/bin. Idempotent and non-interactive; run as root (or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libjpeg62-turbo-dev libjpeg-turbo-progs
  libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy curl xvfb xauth imagemagick
  clang libclang-rt-14-dev clang-format clang-tidy locales
  libtiff-dev libgdal-dev gdal-bin libcli11-dev qgis-common
  libpng-dev zlib1g-dev libsqlite3-dev sqlite3 python3-gdal libxxhash-dev
  openbox xdotool x11-utils dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$p")
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# The package lists are refreshed every time: a fresh machine has none.
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, for the tests of the user's number format.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANE_WERROR=ON
cmake --build build -j2
echo "Built the bundle in $(pwd)/build/bin"
