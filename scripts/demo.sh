#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: a whole set through the real windows
# against the simulated IB scanner, the set saved and the card printed to a PDF file.
#   scripts/demo.sh [OUTDIR] [--fast]
# Without a display the windows run offscreen; with one (DISPLAY set) they show while it runs.
# The station runs in OUTDIR/station, a scratch copy of the program folder build/bin (links),
# never in build/bin itself. OUTDIR defaults to a new folder under $TMPDIR or /tmp.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if ! command -v pdftoppm >/dev/null; then
  echo "== note: pdftoppm (poppler-utils) is not installed: no picture of the card page"
fi
BUILD_DIR=build scripts/build.sh -DSTATION_TESTS=OFF -DSTATION_BENCH=OFF
echo "== running the demo"
exec build/tools/station_demo --bin build/bin "$@"
