#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [seconds per target, default 10] [build folder, default build-fuzz]
# Inputs that once crashed a loader are kept in tests/fuzz/regressions/<name>/
# and replayed first; tests/fuzz/corpus/<name>/ seeds the search.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
tree="${2:-build-fuzz}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/zorvek-ccache}"

if [[ ! -f "$tree/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORVEK_FUZZ=ON -DZORVEK_TESTS=OFF -DZORVEK_BENCH=OFF
fi
targets=$(cd "$tree" && ninja -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)
if [[ -z "$targets" ]]; then
  echo "No fuzz targets."
  exit 0
fi
cmake --build "$tree" -j "$(nproc)" --target $targets

for target in $targets; do
  name="${target#fuzz_}"
  work="$tree/corpus/$name"
  mkdir -p "$work"
  seeds=()
  [[ -d "tests/fuzz/corpus/$name" ]] && seeds+=("tests/fuzz/corpus/$name")
  if [[ -d "tests/fuzz/regressions/$name" ]]; then
    echo "== $target: replaying regressions"
    "$tree/$target" "tests/fuzz/regressions/$name"/*
  fi
  echo "== $target: ${seconds}s"
  "$tree/$target" -max_total_time="$seconds" -print_final_stats=0 "$work" "${seeds[@]}" 2>&1 | tail -3
done
