#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 s).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-60}
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
for fuzzer in $(find build-fuzz -type f -name '*_fuzz' -perm -u+x | sort); do
  echo "== $fuzzer"
  corpus="build-fuzz/corpus/$(basename "$fuzzer")"
  mkdir -p "$corpus"
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
done
