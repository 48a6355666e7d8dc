#!/usr/bin/env bash
# Installs everything needed to build, run and test Quarvel on Debian 12. Safe to run again:
# when every package is present it changes nothing and does not touch the network.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev
  libqscintilla2-qt6-dev libmariadb-dev libxlsxwriter-dev zlib1g-dev
  # run: Qt's platform plugins, fonts for Chinese and the Windows design fonts' stand-ins
  qt6-qpa-plugins qt6-translations-l10n fonts-noto-cjk fonts-liberation2 fonts-dejavu-core
  # test: the throwaway database server, a virtual display and screenshots
  mariadb-server mariadb-client openssl xvfb xauth xdotool imagemagick x11-utils
  python3 python3-openpyxl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "bootstrap: all packages present"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

