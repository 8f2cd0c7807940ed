#!/bin/sh
# Our scripts leave the user's Wine alone: a Wine program running in another
# prefix (the user's game, say) is still running after scripts/demo.sh, which
# uses and stops only the project's own prefix under build/, even when the
# user's shell names their prefix in WINEPREFIX. (The user's real prefix is
# never touched: the "user's" prefix here is one of the test's own.)
# Run from the repository's root.
set -u
other=$(pwd)/build/other-wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$other wine ping -n 600 127.0.0.1 </dev/null >/dev/null 2>&1 &
user_program=$!
stop_other() { WINEPREFIX=$other wineserver -k >/dev/null 2>&1; wait "$user_program" 2>/dev/null; }
trap stop_other EXIT
# Wait (bounded) until the other prefix's program runs: its process shows.
tries=0
until pgrep -f 'ping.exe' > /dev/null || [ $tries -ge 120 ]; do
  sleep 0.5; tries=$((tries + 1))
done
pgrep -f 'ping.exe' > /dev/null || { echo "FAIL: the other prefix's program did not start"; exit 1; }

WINEPREFIX=$other env -u AIMING_WINE_SESSION bash scripts/demo.sh --frames 60 > build/other-wine-demo.log 2>&1 ||
  { echo "FAIL: the demo failed"; cat build/other-wine-demo.log; exit 1; }
if pgrep -f 'ping.exe' > /dev/null; then
  echo "other Wine prefix: its program is still running after scripts/demo.sh"
  exit 0
fi
echo "FAIL: scripts/demo.sh ended a Wine program of another prefix"
exit 1
