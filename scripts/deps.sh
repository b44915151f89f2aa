#!/usr/bin/env bash
# Installs what building, testing and running the tools needs on Debian 12 (as root, apt).
set -euo pipefail
packages=(
  cmake g++ make pkg-config python3 libgtest-dev clang libc++-dev
  libxcb1-dev libxcb-randr0-dev libxcb-res0-dev libglib2.0-dev
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  libcairo2-dev libpango1.0-dev fonts-dejavu-core
  xvfb xauth xdotool wmctrl openbox x11-xserver-utils x11-utils xtrace
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
