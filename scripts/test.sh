#!/usr/bin/env bash
# Installs what is missing, builds the engine three times and runs the tests
# in each: plain (every suite), with AddressSanitizer +
# UndefinedBehaviorSanitizer (every suite and the fuzzers), and with
# ThreadSanitizer (the suites that start threads).
set -euo pipefail
cd "$(dirname "$0")/.."

# Each step's time, printed as it ends and summed up at the end.
timings=""
step_start=$SECONDS
step_done() {
  timings+="$(printf '%5d s  %s' $((SECONDS - step_start)) "$1")"$'\n'
  echo "== $1: $((SECONDS - step_start)) s"
  step_start=$SECONDS
}

scripts/install_deps.sh
scripts/check_layering.sh
step_done "packages and layering"

jobs=$(nproc)
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/zorvek-ccache}"

# Optimised without debug information: the quickest build to compile whose
# benchmarks still mean something.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DZORVEK_TESTS=ON -DZORVEK_BENCH=ON -DZORVEK_UNITY=ON
cmake --build build -j "$jobs"
step_done "plain build"
(cd build && ctest --output-on-failure -j "$jobs")
step_done "plain tests"

# The second build: clang with AddressSanitizer + UndefinedBehaviorSanitizer
# for the whole test suite, instrumented for libFuzzer too, so the fuzz
# targets come from the same tree instead of a third build.
# -O1 with line tables keeps sanitizer reports readable and compiles fast.
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DZORVEK_SANITIZE=ON -DZORVEK_FUZZ=ON -DZORVEK_BENCH=OFF -DZORVEK_UNITY=ON
cmake --build build-asan -j "$jobs"
step_done "ASan+UBSan build"
# scripts/lsan.supp leaves out the process-long caches of GLib and GTK,
# which the engine's UI thread starts wherever a display opens (Xvfb).
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/../scripts/lsan.supp" ctest --output-on-failure -j "$jobs")
step_done "ASan+UBSan tests"

# Every loader of untrusted bytes has a fuzzer: a short run each.
scripts/fuzz.sh 5 build-asan
step_done "fuzzers"

# The third build: clang with ThreadSanitizer, only for the suites that
# start threads: the engine in process in both threading modes (core,
# script), the workers (layers, renderer), the platform's threads and
# events (platform), the sound thread and the audio callback (sound), the
# image operations that scale on the workers (effects), the tray icon's bus
# thread (system), the GPU device handed from start-up to the frame thread
# and the model players called on it (gpu, emote). scripts/tsan.supp leaves out what GLib, GTK and Xlib do
# among their own threads, which ThreadSanitizer cannot follow. The
# zorvek executable that the core suite runs (the demo among those runs, in
# both threading modes) is built with TSan too:
# a report there fails its test through the log and the exit code.
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DZORVEK_TSAN=ON -DZORVEK_BENCH=OFF -DZORVEK_UNITY=ON -DZORVEK_TEST_SUITES="core;layers;platform;renderer;script;sound;effects;system;gpu;emote"
cmake --build build-tsan -j "$jobs"
step_done "TSan build"
(cd build-tsan && TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/../scripts/tsan.supp" ctest --output-on-failure -j "$jobs")
step_done "TSan tests"

# Benchmarks print ratios; they never decide the outcome.
for bench in build/bench_*; do
  [[ -x "$bench" ]] && { "$bench" || true; }
done
step_done "benchmarks"
printf '%s' "$timings"
echo "All tests passed."
