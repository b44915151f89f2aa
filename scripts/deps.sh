#!/usr/bin/env bash
# Installs what building, testing and running the tools needs on Debian 12 (as root, apt).
set -euo pipefail
packages=(
  # building
  cmake g++ make pkg-config python3 libgtest-dev clang libc++-dev
  libxcb1-dev libxcb-randr0-dev libxcb-res0-dev libxcb-ewmh-dev libxcb-icccm4-dev
  libxcb-xinput-dev libxcb-xkb-dev libxcb-shape0-dev libxcb-xfixes0-dev libxcb-cursor-dev
  libxkbcommon-dev libxkbcommon-x11-dev libatspi2.0-dev libglib2.0-dev
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  libcairo2-dev libpango1.0-dev rapidjson-dev
  # fonts for drawing and for the text-recognition test images
  fonts-dejavu-core fonts-liberation fonts-noto-core
  # process tests, fixtures and benchmarks
  xvfb xauth xdotool wmctrl openbox x11-xserver-utils x11-utils xtrace xinput xcompmgr slop
  dbus dbus-x11 at-spi2-core python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 python3-pyatspi
  chromium imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "deps: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
