#!/usr/bin/env bash
# Sets up whatever is missing, builds the plugin and runs it in the stand-in
# host. Arguments go to the demonstration (--help lists them). It says what it
# is doing while it builds and starts Wine.
#
#   bash scripts/demo.sh --dll FILE --folder DIR
# runs that DLL in the stand-in host with the aimingSets.dat found in DIR, as
# the game would in its own folder, and ends by printing the log it wrote
# there: a modder sees what a file does to the game without the game. Any
# folder works, spaces and letters of any script in its name included.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "demo: $*"; }
usage() {
  cat <<'TEXT'
usage: bash scripts/demo.sh [--build N] [--frames N] [--settings FILE] [--dll FILE --folder DIR]

Builds the plugin (setting up whatever is missing first) and runs it in the
stand-in host, a small program that plays the game's part: it loads the DLL,
makes the game's aim and frame calls, and shows what the plugin did.

  --build N        the game build the stand-in plays: 1001 1002 1011 1101 1111
                   3200 3210, or 0 for one the plugin does not recognise
                   (default 1001; the frame call exists on 1001 and 1002 only)
  --frames N       frames to run, at least 60, at 60 a second (default 300)
  --settings FILE  the settings file to use, read as it is (the live edit
                   that shows live reload is made on a copy of it)
  --dll FILE       the plugin DLL to run (default: the one just built)
  --folder DIR     run the DLL with the aimingSets.dat in DIR, as the game
                   would in its own folder; the log is written there
  --help           this text
TEXT
}
# Options checked before anything is set up or built.
check=("$@")
for ((i = 0; i < ${#check[@]}; i++)); do
  case ${check[i]} in
    --help | -h) usage; exit 0 ;;
    --build)
      [[ ${check[i + 1]:-} =~ ^(1001|1002|1011|1101|1111|3200|3210|0)$ ]] ||
        { say "--build takes one of 1001 1002 1011 1101 1111 3200 3210 0, not '${check[i + 1]:-}'"; exit 2; }
      i=$((i + 1)) ;;
    --frames)
      [[ ${check[i + 1]:-} =~ ^[0-9]+$ ]] || { say "--frames takes a whole number, not '${check[i + 1]:-}'"; exit 2; }
      i=$((i + 1)) ;;
    --dll | --folder | --settings) i=$((i + 1)) ;;
    *) say "unknown option '${check[i]}' (--help lists them)"; exit 2 ;;
  esac
done
bash scripts/setup.sh

mkdir -p build
say "building the plugin and the stand-in host in build/windows (a few minutes the first time)"
if ! { cmake --preset windows && cmake --build --preset windows --target AimingPlugin standin-host standin-demo; } 2>&1 |
  tee build/demo-build.log | awk '/Built target/ && !seen[$NF]++ { print "demo:   built " $NF; fflush() }'; then
  cat build/demo-build.log
  exit 1
fi

if [ -f build/wineprefix/system.reg ]; then
  say "starting Wine"
else
  say "starting Wine and making its prefix, build/wineprefix (5 to 15 s, or 15 to 30 s where Wine runs emulated)"
fi
source scripts/wine-session.sh
# Wine reads the arguments in the locale's encoding: UTF-8 keeps every letter.
export LC_ALL=C.UTF-8
# The paths as the stand-in host sees them, through Wine's drive Z:.
args=()
while (($#)); do
  case $1 in
    --dll | --folder | --settings)
      [ $# -ge 2 ] || { say "$1 needs a path"; exit 2; }
      [ -e "$2" ] || { say "$1 $2: no such file or folder"; exit 2; }
      args+=("$1" "$(winepath -w "$(realpath "$2")")")
      shift 2
      ;;
    *)
      args+=("$1")
      shift
      ;;
  esac
done
say "Wine runs $AIMING_WINE_RUNS; the plugin in the stand-in host:"
echo
# Wine's own remarks about the host's drives are no part of the demonstration.
# The host's last line says how the demonstration ended; a run without it
# was cut short (a Wine program whose wineserver is stopped under it exits 0).
finished=
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%$'\r'}
  case $line in
    "standin-host: finished, status "*) finished=${line##* } ;;
    *) printf '%s\n' "$line" ;;
  esac
done < <(wine build/windows/standin_host/standin-host.exe build/windows/standin_host/standin-demo.dll "${args[@]}" \
  2> >(grep -v 'Read access denied for device' >&2))
if [ -z "$finished" ]; then
  echo
  say "the demonstration stopped before its end (was its Wine stopped, or did it crash?)"
  exit 1
fi
exit "$finished"
