#!/usr/bin/env bash
# Installs what the build needs on Debian 12, only when something is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libicu-dev libgtest-dev libgmock-dev
          libbenchmark-dev libgcrypt20-dev nlohmann-json3-dev clang libclang-rt-14-dev
          qt6-base-dev qt6-tools-dev xvfb xauth doxygen)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
