#!/usr/bin/env bash
# Builds Quire and runs the main job on the embedded default data directory: with a display,
# the explorer on the sample database; without one, `quire demo`, and how to start the explorer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIRE_BUILD_TESTS=OFF >/dev/null
cmake --build build --target quire_cli quire_explorer_app nthtapi nnotes
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/quire-explorer
fi
build/bin/quire demo
echo
echo "No display here: on a desktop, start the explorer on this sample with build/bin/quire-explorer"
echo "(or build/bin/quire-explorer SERVER!!PATH for another database)."
