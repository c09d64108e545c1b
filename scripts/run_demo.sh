#!/usr/bin/env bash
# Installs what is missing, builds the engine and runs the bundled demo game
# in a window (headless when there is no display). Extra arguments go to
# the engine, e.g. --headless --frames 300.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/zorvek-ccache}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target zorvek demo_game

args=("$@")
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && " ${args[*]} " != *" --headless "* ]]; then
  echo "No display: running headless for 600 frames; the last frame goes to build/demo-last-frame.png."
  args+=(--headless --frames 600 --png build/demo-last-frame.png)
fi
exec build/zorvek --game build/demo-game "${args[@]}"
