#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [seconds per target, default 10]
# Inputs that once crashed a loader are kept in tests/fuzz/regressions/<name>/
# and replayed first; tests/fuzz/corpus/<name>/ seeds the search.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/zorvek-ccache}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZORVEK_FUZZ=ON -DZORVEK_TESTS=OFF -DZORVEK_BENCH=OFF
targets=$(cd build-fuzz && ninja -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony.*/\1/p' | sort -u)
if [[ -z "$targets" ]]; then
  echo "No fuzz targets."
  exit 0
fi
cmake --build build-fuzz -j "$(nproc)" --target $targets

for target in $targets; do
  name="${target#fuzz_}"
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  seeds=()
  [[ -d "tests/fuzz/corpus/$name" ]] && seeds+=("tests/fuzz/corpus/$name")
  if [[ -d "tests/fuzz/regressions/$name" ]]; then
    echo "== $target: replaying regressions"
    "build-fuzz/$target" "tests/fuzz/regressions/$name"/*
  fi
  echo "== $target: ${seconds}s"
  "build-fuzz/$target" -max_total_time="$seconds" -print_final_stats=0 "$work" "${seeds[@]}" 2>&1 | tail -3
done
