#!/usr/bin/env bash
# Sets up whatever is missing, builds everything and runs every test: the
# settings reader natively under AddressSanitizer and UBSan plus a short fuzz
# run, then the Windows build (plugin, stand-in host, test modules) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/wine-session.sh

cmake --workflow --preset native
cmake --workflow --preset windows
