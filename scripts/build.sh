#!/usr/bin/env bash
# Configures and builds the station into build/ (programs and everything beside them in
# build/bin). Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
LAUNCHER=()
# Several checkouts on one machine share compiled objects when ccache is installed.
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "== configuring ($BUILD_DIR)"
cmake -S . -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" "$@" >/dev/null
echo "== building ($BUILD_DIR)"
cmake --build "$BUILD_DIR" -j "$(nproc)"
