# Sourced by the run scripts: a Wine prefix of the project's own under build/
# (never the user's), one persistent wineserver for it for the whole run
# (fast process starts), its background processes detached from our output,
# and that wineserver, and only it, stopped when the script exits.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX="$(pwd)/build/wineprefix"
mkdir -p build
# No .NET or HTML engine is needed: a new prefix is made without asking for them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
stop_wine() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
trap stop_wine EXIT
{ wineserver -p || true; wine wineboot || true; } </dev/null >/dev/null 2>&1
