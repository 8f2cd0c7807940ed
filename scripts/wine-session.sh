# Sourced by the run scripts: one persistent wineserver for the whole run
# (fast process starts), its background processes detached from our output,
# and everything of Wine's stopped when the script exits. A wineserver that
# is already running is used as it is.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
# No .NET or HTML engine is needed: a new prefix is made without asking for them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
stop_wine() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
trap stop_wine EXIT
{ wineserver -p || true; wine wineboot || true; } </dev/null >/dev/null 2>&1
