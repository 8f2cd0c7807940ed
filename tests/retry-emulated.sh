#!/bin/sh
# Runs one stand-in host test: wine standin-host.exe MODULE [ARGS...]. It
# passes on the host's last line with status 0. Where Wine runs emulated
# (AIMING_WINE_RUNS, set by scripts/wine-session.sh), a run that dies
# without that line is run again, up to four runs in all, and each death is
# said: Wine under qemu-i386 now and then loses a thread's connection to its
# wineserver ("wine client error ... write: Bad file descriptor") or a fault
# it cannot read ("segv_handler Got unexpected trap -1") when threads make
# system calls back to back while another loads and frees a library. A
# failed assertion is never run again, emulated or not.
runs=1
case ${AIMING_WINE_RUNS:-native} in emulated*) runs=4 ;; esac
attempt=1
while :; do
  output=$("$@" 2>&1)
  status=$?
  printf '%s\n' "$output"
  printf '%s\n' "$output" | grep -q 'standin-host: finished, status 0' && exit 0
  printf '%s\n' "$output" | grep -q 'standin-host: finished, status' && exit 1
  [ $attempt -lt $runs ] || exit 1
  echo "retry-emulated: run $attempt died (exit status $status) without finishing, where Wine runs emulated: running it again"
  attempt=$((attempt + 1))
done
