#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs to build, run and test.
# Idempotent: when every package is present it changes nothing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libasound2-dev libjpeg-dev
  libfprint-2-dev libglib2.0-dev
  fonts-liberation2 fonts-dejavu-core
  qt6-translations-l10n
  dpkg-dev
)
# Only the test run needs these.
TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang
  xvfb xauth poppler-utils
  cups printer-driver-cups-pdf
  python3 desktop-file-utils
)

want=("${PACKAGES[@]}")
if [[ "${1:-}" == "--tests" ]]; then
  want+=("${TEST_PACKAGES[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "== installing: nothing to do, all packages present"
  exit 0
fi

echo "== installing: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
