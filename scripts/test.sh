#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
BUILD_DIR=build scripts/build.sh -DSTATION_TESTS=ON
echo "== testing"
cd build
ctest --output-on-failure -j "$(nproc)" "$@"
