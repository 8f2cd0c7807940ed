#!/bin/sh
# Our scripts leave the user's Wine alone: the wineserver of another prefix
# (the user's game, say) is still running after scripts/demo.sh, which uses
# and stops only the project's own prefix under build/, even when the user's
# shell names their prefix in WINEPREFIX. A server is what "wineserver -k"
# in the wrong prefix would end, so it is witness enough; no program needs
# to run in that prefix. (The user's real prefix is never touched: the
# "user's" prefix here is one of the test's own.)
# Run from the repository's root.
set -u
other=$(pwd)/build/other-wineprefix
mkdir -p "$other"
WINEPREFIX=$other wineserver -f -p </dev/null >/dev/null 2>&1 &
server=$!
stop_other() { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
trap stop_other EXIT
# Wait (bounded) until that server listens: a socket among its open files.
tries=0
until ls -l /proc/"$server"/fd 2>/dev/null | grep -q 'socket:' || [ $tries -ge 600 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
kill -0 "$server" 2>/dev/null || { echo "FAIL: the other prefix's wineserver did not start"; exit 1; }

WINEPREFIX=$other env -u AIMING_WINE_SESSION bash scripts/demo.sh --frames 60 > build/other-wine-demo.log 2>&1 ||
  { echo "FAIL: the demo failed"; cat build/other-wine-demo.log; exit 1; }
if kill -0 "$server" 2>/dev/null; then
  echo "other Wine prefix: its wineserver is still running after scripts/demo.sh"
  exit 0
fi
echo "FAIL: scripts/demo.sh ended the wineserver of another prefix"
exit 1
