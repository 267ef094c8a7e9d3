#!/usr/bin/env bash
# Installs, only when missing, every Debian package the build, the tests and the
# interoperability checks need. Safe to run again: it does nothing when all is there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libzip-dev liblhasa-dev libdeflate-dev libisal-dev zlib1g-dev libarchive-dev libssl-dev
  libbz2-dev libxcb1-dev
  liblzma-dev libzstd-dev zstd zip
  libgtest-dev libgmock-dev libbenchmark-dev
  lhasa jlha-utils libarchive-tools 7zip unar python3 zip unzip
  xvfb xauth x11-utils xdotool twm imagemagick fonts-ipafont-gothic
  desktop-file-utils appstream clang-format file dpkg-dev lintian python3-gi python3-nautilus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
