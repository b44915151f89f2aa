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
# installs those too): the first word of each line of scripts/build-packages.
mapfile -t packages < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' scripts/build-packages |
                          awk '{print $1}')
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
