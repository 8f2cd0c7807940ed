#!/usr/bin/env bash
# Sets up whatever is missing, builds the plugin and runs it in the stand-in
# host. Arguments go to the demonstration (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/wine-session.sh

{ cmake --preset windows && cmake --build --preset windows --target AimingPlugin standin-host standin-demo; } \
  > build-demo.log 2>&1 || { cat build-demo.log; exit 1; }
rm -f build-demo.log
wine build/windows/standin_host/standin-host.exe build/windows/standin_host/standin-demo.dll "$@"
