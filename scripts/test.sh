#!/usr/bin/env bash
# Builds Quire twice (normal, and with AddressSanitizer + UndefinedBehaviorSanitizer), runs
# the whole test suite in both, checks the normal build as an installed package (examples,
# API reference), runs the main job from its Release build, then runs each fuzz target for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
fuzz_seconds=${QUIRE_FUZZ_SECONDS:-60}
# A compiler cache, when the machine has one, makes a rebuild of unchanged sources nearly free.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

run_suite() {  # build-dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIRE_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

# The storage tests run on both backends; the PostgreSQL cases need a cluster, made for this
# run only and stopped however the run ends. The sanitizer build skips them (a second pass
# over the same SQL adds time, not coverage).
pg_env=$(scripts/pg-cluster.sh start)
if [ -n "$pg_env" ]; then
  eval "$pg_env"
  trap 'scripts/pg-cluster.sh stop "$QUIRE_PG_CLUSTER"' EXIT
fi

echo "== normal build"
run_suite build-test
echo "== screenshots, for a person to look at"
scripts/explorer-screenshots.sh build-test
ls build-test/artefacts/*.png
echo "== installed package: headers, examples (find_package, pkg-config), API reference"
scripts/check-install.sh build-test --docs
echo "== the main job as the README gives it (a Release build: its warnings differ from Debug's)"
env -u DISPLAY -u WAYLAND_DISPLAY scripts/main.sh >/dev/null
echo "== sanitizer build"
QUIRE_TEST_PG= ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-test-san -DQUIRE_SANITIZE=ON

if [ "$fuzz_seconds" -gt 0 ] && [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzzing (${fuzz_seconds}s per target)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQUIRE_FUZZ=ON -DQUIRE_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  targets=$(cmake --build build-fuzz --target help | sed -n 's/^\([a-z_]*_fuzz\):.*/\1/p')
  for t in $targets; do
    cmake --build build-fuzz --target "$t" -j "$jobs"
    mkdir -p "build-fuzz/corpus/$t"
    "build-fuzz/bin/$t" -max_total_time="$fuzz_seconds" -max_len=4096 "build-fuzz/corpus/$t" 2>&1 | tail -n 3
  done
fi
echo "== all tests passed"
