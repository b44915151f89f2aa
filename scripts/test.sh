#!/usr/bin/env bash
# Installs what is missing (Debian 12, apt), builds everything and runs the unit and process
# tests. With a macOS SDK sysroot at hand (first argument, or the macos-sysroot tool's default
# place), the macOS sources are compile-checked first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh
scripts/format-check
sysroot=${1:-${HOME}/.cache/orvane-macos-sysroot/sysroot}
if [ -d "$sysroot/System/Library/Frameworks" ]; then
  # Debian's default clang (14) cannot read macOS's own C++ library headers.
  if ! command -v clang++-16 >/dev/null && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-16 >/dev/null
  fi
  scripts/macos-check "$sysroot"
else
  echo "test: no macOS sysroot at $sysroot; the macOS compile check is skipped"
fi
# Warnings are errors here, as in the dev preset.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=ON -DORVANE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
