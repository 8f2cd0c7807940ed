#!/usr/bin/env bash
# Sets up whatever is missing, builds, and measures what the plugin costs the
# host on its hot paths, pinned to one CPU. Arguments: --json FILE, --batches N.
# The table and the JSON say whether Wine ran natively or emulated. The table
# of a run that finished is also written, with the date, the commit and the
# machine, to benchmarks/figures-native.txt or benchmarks/figures-emulated.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
{ cmake --preset windows && cmake --build --preset windows --target AimingPlugin standin-host plugin_bench; } \
  > build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }
source scripts/wine-session.sh
figures=benchmarks/figures-${AIMING_WINE_RUNS%% *}.txt
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit with local changes"
{
  echo "scripts/bench.sh${*:+ $*}, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $commit"
  echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(wine --version)"
} > build/bench-figures.txt
status=0
taskset -c 0 wine build/windows/standin_host/standin-host.exe build/windows/benchmarks/plugin_bench.dll "$@" \
  >> build/bench-figures.txt || status=$?
cat build/bench-figures.txt
# Only a run that finished (every target met, or one missed: status 0 or 1,
# and the table's closing note printed) replaces the figures of record.
if [ "$status" -le 1 ] && grep -q '^(\*) ' build/bench-figures.txt; then
  cp build/bench-figures.txt "$figures"
  echo "bench.sh: the figures are in $figures"
else
  echo "bench.sh: the run did not finish (status $status): $figures is left as it was" >&2
  [ "$status" -gt 1 ] || status=2
fi
exit $status
