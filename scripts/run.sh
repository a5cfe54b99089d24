#!/usr/bin/env bash
# Installs what is missing, builds, and starts TrazelIB from its program folder.
# Arguments are passed to the program (the first one is the reference of the set).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=build scripts/build.sh -DSTATION_TESTS=OFF -DSTATION_BENCH=OFF
echo "== starting TrazelIB"
cd build/bin
exec ./TrazelIB "$@"
