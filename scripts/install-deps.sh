#!/usr/bin/env bash
# Installs the Debian packages and the locale the project needs; does nothing when they are all there.
set -euo pipefail

PACKAGES=(
  # toolchain and tests
  cmake g++ make pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
  # locale data, for the locale with a decimal comma that the number tests switch to (below)
  locales
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
  # the X11 tests under the common desktops' window managers, with a mouse of their own; kwin draws
  # its default frame (Breeze) only with the style installed, as a desktop has it
  xfwm4 kwin-x11 kwin-style-breeze mutter metacity dbus-daemon libxtst-dev
  # a headless Wayland session with XWayland, and Qt's Wayland platform, for the session test
  weston xwayland qt6-wayland
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The number tests check that a decimal comma in the process locale does not leak into number
# reading; the locale is generated once, when it is missing.
if ! grep -qix 'de_DE\.utf-\?8' <<<"$(locale -a 2>/dev/null)"; then
  echo "Generating the locale de_DE.UTF-8"
  if grep -q '^# *de_DE\.UTF-8 UTF-8$' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)$/\1/' /etc/locale.gen
  elif ! grep -qx 'de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen
fi
