#!/usr/bin/env bash
# Sets up whatever is missing, checks the formatting, builds everything and
# runs every test: the settings library and checker natively under
# AddressSanitizer and UBSan plus a short fuzz run, then the Windows build
# (plugin, stand-in host, test modules) under Wine; then the release package,
# the README against the tree, the demonstration in a modder's folder, what
# setup does on a machine without 32-bit support, two runs sharing one Wine
# session, a build in a folder named with a ', a plain native Release build
# of the checker, where Wine runs emulated its start-up, and the scripts
# against another Wine prefix.
# Each step says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
timed() {
  local start=$SECONDS
  "$@"
  echo "test.sh: $* took $((SECONDS - start)) s"
}
timed bash scripts/setup.sh
timed bash scripts/check-format.sh
timed cmake --workflow --preset native
timed source scripts/wine-session.sh
echo "test.sh: Wine runs $AIMING_WINE_RUNS"
timed cmake --workflow --preset windows
checks=0
check() {
  timed "$@"
  checks=$((checks + 1))
}
check bash scripts/package.sh
check bash tests/readme-test.sh
check sh tests/demo-folder-test.sh
check bash tests/i386-setup-test.sh
check bash tests/wine-session-test.sh
check sh tests/quoted-path-test.sh
check sh tests/plain-native-build-test.sh
case $AIMING_WINE_RUNS in emulated*) check bash tests/emulated-start-test.sh ;; esac
check bash tests/other-wine-test.sh  # last: the demo it runs ends this run's wineserver
echo "release checks: $checks passed, 0 failed"
