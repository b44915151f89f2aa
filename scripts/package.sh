#!/usr/bin/env bash
# Builds the Debian package orvane-tools_<version>_<arch>.deb: the release preset (optimised,
# no tests), then CPack. On a new Debian 12 machine it first installs what building needs (as
# root, apt). Prints the package's path; with OUTDIR the package is copied there as well.
#
#   scripts/package.sh [OUTDIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# What building the programs and the package needs, and nothing for tests (scripts/deps.sh
# installs those too). dpkg-dev gives dpkg-shlibdeps, which CPack asks for the Depends line.
packages=(
  cmake g++ make pkg-config dpkg-dev file
  libxcb1-dev libxcb-randr0-dev libxcb-res0-dev libxcb-ewmh-dev libxcb-icccm4-dev
  libxcb-xinput-dev libxcb-xkb-dev libxcb-record0-dev libxcb-cursor-dev libxkbcommon-dev
  libxkbcommon-x11-dev
  libatspi2.0-dev libdbus-1-dev libglib2.0-dev libtesseract-dev libleptonica-dev
  libcairo2-dev libpango1.0-dev
)
"$top/scripts/apt-install" package "${packages[@]}"

build=build-release  # the release preset's binary folder
rm -f "$build"/orvane-tools_*.deb
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" >/dev/null
cpack --preset release >/dev/null
debs=("$build"/orvane-tools_*.deb)
[ -f "${debs[0]}" ] || { echo "package: CPack made no package" >&2; exit 1; }
deb="$top/${debs[0]}"
if [ $# -gt 0 ]; then
  mkdir -p "$1"
  cp "$deb" "$1/"
  deb="$(cd "$1" && pwd)/$(basename "$deb")"
fi
echo "$deb"
