#!/usr/bin/env bash
# Sets up whatever is missing, builds the plugin and runs it in the stand-in
# host. Arguments go to the demonstration (--help lists them). It says what it
# is doing while it builds and starts Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "demo: $*"; }
bash scripts/setup.sh

mkdir -p build
say "building the plugin and the stand-in host in build/windows (a few minutes the first time)"
if ! { cmake --preset windows && cmake --build --preset windows --target AimingPlugin standin-host standin-demo; } 2>&1 |
  tee build/demo-build.log | awk '/Built target/ && !seen[$NF]++ { print "demo:   built " $NF; fflush() }'; then
  cat build/demo-build.log
  exit 1
fi

if [ -f build/wineprefix/system.reg ]; then
  say "starting Wine"
else
  say "starting Wine and making its prefix, build/wineprefix (5 to 15 s, or 15 to 30 s where Wine runs emulated)"
fi
source scripts/wine-session.sh
say "Wine runs $AIMING_WINE_RUNS; the plugin in the stand-in host:"
echo
wine build/windows/standin_host/standin-host.exe build/windows/standin_host/standin-demo.dll "$@"
