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

# The targets run side by side, one per processor. Each one's output goes
# to its own log: the last lines of each are printed, a failure's whole.
logs="$tree/fuzz-logs"
rm -rf "$logs" && mkdir -p "$logs"
run_target() {
  local tree="$1" seconds="$2" target="$3"
  local name="${target#fuzz_}"
  local work="$tree/corpus/$name"
  mkdir -p "$work"
  local seeds=()
  [[ -d "tests/fuzz/corpus/$name" ]] && seeds+=("tests/fuzz/corpus/$name")
  if [[ -d "tests/fuzz/regressions/$name" ]]; then
    echo "== $target: replaying regressions"
    "$tree/$target" "tests/fuzz/regressions/$name"/* || return 1
  fi
  echo "== $target: ${seconds}s"
  "$tree/$target" -max_total_time="$seconds" -print_final_stats=0 "$work" "${seeds[@]}"
}
export -f run_target
failed=0
printf '%s\n' $targets | xargs -P "$(nproc)" -I{} bash -c \
  'run_target "$0" "$1" "$2" > "$0/fuzz-logs/$2.log" 2>&1 || { echo FAILED >> "$0/fuzz-logs/$2.log"; exit 1; }' \
  "$tree" "$seconds" {} || failed=1
for target in $targets; do
  grep -q '^FAILED$' "$logs/$target.log" || { echo "== $target"; tail -2 "$logs/$target.log"; }
done
for target in $targets; do
  if grep -q '^FAILED$' "$logs/$target.log"; then
    echo "== $target FAILED:"
    cat "$logs/$target.log"
  fi
done
exit "$failed"
