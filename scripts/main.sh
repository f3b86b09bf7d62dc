#!/usr/bin/env bash
# Builds Quire and runs the main job on the embedded default data directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIRE_BUILD_TESTS=OFF >/dev/null
cmake --build build --target quire_cli nthtapi nnotes
exec build/bin/quire demo
