#!/usr/bin/env bash
# Checks Quire as a user receives it: installs a built tree into a temporary prefix, moves
# the prefix (nothing may point back at the build or the first location), compiles every
# installed header on its own, then builds every example against the installed package
# twice, with find_package and with pkg-config, and runs each against a fresh data
# directory. With --docs it also builds the API reference, which fails on any warning.
#   scripts/check-install.sh BUILD_DIR [--docs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
docs=${2:-}
jobs=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/stage" >/dev/null
mv "$work/stage" "$work/prefix"
prefix=$work/prefix
pcfile=$(find "$prefix" -name quire.pc -path '*/pkgconfig/*' | head -n 1)
export PKG_CONFIG_PATH=${pcfile%/*}

echo "-- installed headers compile on their own"
includedir=$(pkg-config --variable=includedir quire)
# The widget library's headers need Qt's flags (and Qt insists on position-independent code).
package=quire
if pkg-config --exists quirewidgets; then package=quirewidgets; fi
flags="-std=c++20 -fPIC -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags $package)"
(cd "$includedir" && find . -name '*.h' | sed 's|^\./||') |
  xargs -P "$jobs" -I{} sh -c 'echo "#include <{}>" | c++ $1 -fsyntax-only -x c++ - || { echo "not self-contained: {}"; exit 1; }' _ "$flags"

examples=$(sed -n 's/^foreach(example \(.*\))$/\1/p' examples/CMakeLists.txt)
run_examples() {  # label, directory holding the programs
  local example
  for example in $examples; do
    echo "-- $1: $example"
    QUIRE_DATA="$work/data-$1" "$2/$example" >"$work/$example.out" 2>&1 || { cat "$work/$example.out"; exit 1; }
  done
}

echo "-- examples with find_package(Quire)"
cmake -S examples -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/cmake" -j "$jobs" >/dev/null
run_examples find_package "$work/cmake"

echo "-- examples with pkg-config"
mkdir -p "$work/pkgconfig"
for example in $examples; do
  # shellcheck disable=SC2046  # pkg-config's output is a list of words
  c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags quire) "examples/$example.cpp" -o "$work/pkgconfig/$example" \
    $(pkg-config --libs quire) -Wl,-rpath,"$(pkg-config --variable=libdir quire)"
done
run_examples pkg-config "$work/pkgconfig"

if pkg-config --exists quirewidgets; then
  echo "-- widgets example: find_package, then pkg-config"
  # shellcheck disable=SC2046
  c++ -std=c++20 -fPIC -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags quirewidgets) examples/form_navigator.cpp \
    -o "$work/pkgconfig/form_navigator" $(pkg-config --libs quirewidgets) \
    -Wl,-rpath,"$(pkg-config --variable=libdir quire)"
  for dir in "$work/cmake" "$work/pkgconfig"; do
    QT_QPA_PLATFORM=offscreen QUIRE_DATA="$work/data-widgets" "$dir/form_navigator" --self-test \
      >"$work/form_navigator.out" 2>&1 || { cat "$work/form_navigator.out"; exit 1; }
  done
fi

if [ "$docs" = --docs ]; then
  echo "-- API reference"
  cmake --build "$build" --target docs
fi
echo "-- installed package works"
