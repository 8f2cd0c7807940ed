#!/bin/sh
# Where Wine runs emulated, a Wine process starts without reserving its
# memory 64 KiB at a time: the preload of scripts/emulation/ reaches it and
# keeps its start-up to a few hundred memory mappings (about 65,000, a minute
# of CPU, without it). Counted from qemu's own log of the system calls of one
# start of the stand-in host. Run from the repository's root inside a Wine
# session (scripts/wine-session.sh), on a machine where Wine runs emulated.
set -u
log=build/emulated-start.log
QEMU_STRACE=1 wine build/windows/standin_host/standin-host.exe </dev/null >"$log" 2>&1
maps=$(grep -c 'mmap2(' "$log")
if grep -q 'usage: standin-host' "$log" && [ "$maps" -gt 50 ] && [ "$maps" -lt 5000 ]; then
  echo "emulated Wine start: $maps memory mappings"
  exit 0
fi
echo "FAIL: one emulated start of the stand-in host made $maps memory mappings (expected 50 to 5,000)"
grep -v 'mmap2(\|munmap(' "$log" | tail -n 20
exit 1
