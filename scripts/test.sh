#!/usr/bin/env bash
# Installs what is missing (Debian 12, apt), builds everything and runs the unit and process
# tests. With a macOS SDK sysroot at hand (first argument, or the macos-sysroot tool's default
# place), the macOS sources are compile-checked first, and the macOS programs built, linked and
# checked (scripts/macos-build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh
scripts/format-check
sysroot=${1:-${HOME}/.cache/orvane-macos-sysroot/sysroot}
if [ -d "$sysroot/System/Library/Frameworks" ]; then
  # Debian's default clang (14) cannot read macOS's own C++ library headers, and the Mach-O
  # linker and tools come with lld and llvm.
  if [ "$(id -u)" -eq 0 ]; then
    scripts/apt-install test clang-16 lld-16 llvm-16
  fi
  scripts/macos-check "$sysroot"
  if command -v ld64.lld-16 >/dev/null && command -v llvm-lipo-16 >/dev/null; then
    scripts/macos-build "$sysroot"
  else
    echo "test: the macOS build is skipped: it needs clang-16, lld-16 and llvm-16 (run as root)"
  fi
else
  echo "test: no macOS sysroot at $sysroot; the macOS compile check and build are skipped"
fi
# Warnings are errors here, as in the dev preset.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=ON -DORVANE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
