#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 s).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-60}
# The fuzz preset: clang, ORVANE_FUZZ=ON, folder build-fuzz.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null
for fuzzer in $(find build-fuzz -type f -name '*_fuzz' -perm -u+x | sort); do
  echo "== $fuzzer"
  corpus="build-fuzz/corpus/$(basename "$fuzzer")"
  mkdir -p "$corpus"
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
done
