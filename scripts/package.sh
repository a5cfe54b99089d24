#!/usr/bin/env bash
# Builds the Debian package of the station from the README's build:
#   scripts/package.sh            -> build/trazelib_<version>_amd64.deb
# Install it with `sudo apt install ./build/trazelib_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
echo "== packaging ($BUILD_DIR)"
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
ls "$BUILD_DIR"/trazelib_*.deb
