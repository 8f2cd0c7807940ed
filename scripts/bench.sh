#!/usr/bin/env bash
# Sets up whatever is missing, builds, and measures what the plugin costs the
# host on its hot paths, pinned to one CPU. Arguments: --json FILE, --batches N.
# The table and the JSON say whether Wine ran natively or emulated.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
{ cmake --preset windows && cmake --build --preset windows --target AimingPlugin standin-host plugin_bench; } \
  > build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }
source scripts/wine-session.sh
taskset -c 0 wine build/windows/standin_host/standin-host.exe build/windows/benchmarks/plugin_bench.dll "$@"
