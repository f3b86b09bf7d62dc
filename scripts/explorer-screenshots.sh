#!/usr/bin/env bash
# Takes the explorer's screenshots under Xvfb into BUILD_DIR/artefacts, for a person to look
# at: scripts/explorer-screenshots.sh [BUILD_DIR] (default build-test).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
cmake --build "$build" --target explorer_screenshots >/dev/null
mkdir -p "$build/artefacts"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$build/bin/explorer_screenshots" "$build/artefacts"
