#!/bin/sh
# At the game's exit no other thread runs, and the plugin waits for none: its
# log ends with the unload and has no wait in it. An unload by FreeLibrary,
# for comparison, logs its wait (the plugin tests show it).
# Arguments: RUNNER HOST MODULE PLUGIN_DLL SETTINGS WORK
set -u
runner=$1 host=$2 module=$3 dll=$4 settings=$5 work=$6
rm -rf "$work" && mkdir -p "$work" || exit 1
cp "$dll" "$work/AimingPlugin.dll" && cp "$settings" "$work/aimingSets.dat" || exit 1
$runner "$host" "$module" "Z:$work/AimingPlugin.dll" || { echo "FAIL: the host did not exit cleanly"; exit 1; }
log=$(cat "$work/AimingPlugin.log" 2>/dev/null)
fail=0
printf '%s\n' "$log" | grep -q "frame call 0x53E981 (at 0x0053E981): redirected" ||
  { echo "FAIL: the plugin did not start"; fail=1; }
printf '%s\n' "$log" | tail -n 1 | grep -q "^unloaded" || { echo "FAIL: the log does not end with the unload"; fail=1; }
! printf '%s\n' "$log" | grep -q "inside the plugin" || { echo "FAIL: the exit waited for calls in flight"; fail=1; }
[ $fail = 0 ] || printf '%s\n' "$log"
[ $fail = 0 ] && echo "process exit: the plugin unloaded without waiting"
exit $fail
