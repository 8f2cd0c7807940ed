# Sourced by the run scripts: a Wine prefix of the project's own under build/
# (never the user's), one persistent wineserver for it for the whole run
# (fast process starts), its background processes detached from our output,
# and that wineserver, and only it, stopped when the script exits. A script
# run from another that holds a session already uses that session as it is.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX="$(pwd)/build/wineprefix"
# No .NET or HTML engine is needed: a new prefix is made without asking for them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ -z "${AIMING_WINE_SESSION:-}" ]; then
  export AIMING_WINE_SESSION=$$
  mkdir -p build
  stop_wine() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
  trap stop_wine EXIT
  { wineserver -p || true; wine wineboot || true; } </dev/null >/dev/null 2>&1
fi
