#!/usr/bin/env bash
# Installs the Debian packages the project needs; does nothing when they are all there.
set -euo pipefail

PACKAGES=(
  # toolchain and tests
  cmake g++ make pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
  # record database
  libsqlite3-dev sqlite3
  # window runtime over Qt 6
  qt6-base-dev qt6-charts-dev qt6-multimedia-dev libqt6opengl6-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # Qt's own texts (message-box buttons, edit menus) in Chinese
  qt6-translations-l10n
  # X11 helpers of the floating bar
  libx11-dev libxext-dev
  # update checker: HTTP and hashing
  libcurl4-openssl-dev libssl-dev
  # the desktop opener behind the sponsor button and the download question
  xdg-utils
  # headless display, a window manager and a CJK font for the GUI tests
  xvfb xauth openbox x11-utils x11-apps imagemagick xdotool fonts-wqy-microhei fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
