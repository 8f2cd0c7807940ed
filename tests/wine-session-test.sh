#!/usr/bin/env bash
# Two runs at once from one clone share its Wine session: a run that ends
# while another still runs leaves the wineserver alone, the last one out
# stops it, and a run that ended without saying so (killed) holds nothing.
# Wine itself is stood in for by programs that note how they were called,
# in a clone of the session script of the test's own under build/.
# Run from the repository's root.
set -u
root=$(pwd)
work=$(mktemp -d "$root/build/wine-session-test.XXXXXX") || exit 1
trap 'touch "$work/end-first"; wait; rm -rf "$work"' EXIT
mkdir -p "$work/clone/scripts" "$work/bin"
cp scripts/wine-session.sh "$work/clone/scripts/"
printf '#!/bin/sh\necho "wineserver $*" >> "$CALLS"\n' > "$work/bin/wineserver"
printf '#!/bin/sh\necho "wine $*" >> "$CALLS"\n[ "$1" = wineboot ] && mkdir -p "$WINEPREFIX/drive_c/windows/system32"\nexit 0\n' \
  > "$work/bin/wine"
chmod +x "$work/bin/wine" "$work/bin/wineserver"
export CALLS="$work/calls" PATH="$work/bin:$PATH" AIMING_WINE_RUNS=native
unset AIMING_WINE_SESSION
cd "$work/clone" || exit 1
fail=0
stops() { grep -c "^wineserver -k" "$CALLS" 2>/dev/null || true; }

# The first run holds its session until the test lets it end.
bash -c 'source scripts/wine-session.sh; until [ -e ../end-first ]; do sleep 0.1; done' &
first=$!
tries=0
until [ -n "$(ls build/wine-sessions 2>/dev/null)" ] || [ $tries -ge 300 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
# A run that was killed, long gone, left its mark behind.
sleep 0 &
gone=$!
wait $gone
touch "build/wine-sessions/$gone"

bash -c 'source scripts/wine-session.sh; true' || { echo "FAIL: the second run failed"; fail=1; }
[ "$(stops)" = 0 ] || { echo "FAIL: a run stopped the wineserver while another run still used it"; fail=1; }
touch ../end-first
wait $first || { echo "FAIL: the first run failed"; fail=1; }
[ "$(stops)" = 1 ] || { echo "FAIL: the last run out stopped the wineserver $(stops) time(s), not once"; fail=1; }
[ -z "$(ls build/wine-sessions)" ] || { echo "FAIL: marks left: $(ls build/wine-sessions)"; fail=1; }
[ $fail = 0 ] && echo "wine session: two runs at once share it, and the last one out stops it"
exit $fail
