# Sourced by the run scripts: a Wine prefix of the project's own under build/
# (never the user's), one persistent wineserver for it for the whole run
# (fast process starts), its background processes detached from our output,
# and that wineserver, and only it, stopped when the last script of this
# clone that uses it exits. A script run from another that holds a session
# already uses that session as it is.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX="$(pwd)/build/wineprefix"
# Only what our programs use. No .NET or HTML engine: a new prefix is made
# without asking for them. None of Wine's device drivers, Plug and Play, RPC
# services or desktop shell: the stand-in host and the checker need none of
# them, and without them a session starts in two processes, not seven (a
# minute less when Wine runs emulated, where these services also crash now
# and then and stall the start for minutes).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedevice.exe,plugplay.exe,svchost.exe,explorer.exe,winemenubuilder.exe=d}
# Whether Wine's 32-bit programs run natively or through an emulator (see
# scripts/emulation/i386.sh); the benchmark reports it.
if [ -z "${AIMING_WINE_RUNS:-}" ]; then
  source scripts/emulation/i386.sh
  if emulator=$(i386_emulator); then
    export AIMING_WINE_RUNS="emulated (${emulator##*/})"
    i386_use_preload
  else
    export AIMING_WINE_RUNS=native
  fi
fi
if [ -z "${AIMING_WINE_SESSION:-}" ]; then
  export AIMING_WINE_SESSION=$$
  mkdir -p build
  # Runs from one clone at once (two demos, say) share the prefix and its
  # server: each registers itself, and only the last one out stops the
  # server, so that no run's Wine is stopped under it.
  sessions="$(pwd)/build/wine-sessions"
  mkdir -p "$sessions"
  touch "$sessions/$$"
  stop_wine() {
    rm -f "$sessions/$$"
    local other
    for other in "$sessions"/*; do
      [ -e "$other" ] || continue
      if kill -0 "$(basename "$other")" 2>/dev/null; then return 0; fi
      rm -f "$other"  # a run that ended without saying so
    done
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  }
  trap stop_wine EXIT
  # The prefix's folder must exist before its server starts: otherwise
  # "wineserver -p" fails, the first Wine program starts a server that ends
  # with its last program, and each later program pays for a new one, and
  # for Wine's start-up services with it.
  mkdir -p "$WINEPREFIX"
  # Wine's own words go to a file (never a pipe: its background processes
  # would hold it open). A prefix that wineboot could not make means a Wine
  # that cannot run here: the run stops with Wine's own first line, not with
  # confusing test failures later.
  { wineserver -p || true; wine wineboot || true; } </dev/null >build/wine-start.log 2>&1
  # (The registry reaches the disk only when the persistent server exits:
  # the folders wineboot makes are what shows the prefix is there.)
  if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    echo "wine-session: Wine cannot start its prefix $WINEPREFIX: $(grep -m 1 . build/wine-start.log || echo 'it said nothing')" >&2
    exit 1
  fi
fi
