#!/bin/sh
# A modder tries a DLL on a settings file in a folder of their own, named with
# spaces and Cyrillic letters: the demonstration runs that DLL with the file
# found there, shows its values reaching the game, prints the log the plugin
# wrote there, and leaves the folder as it was but for that log.
# A demonstration cut short fails. Run from the repository's root, after the
# Windows build.
set -u
dir="build/demo folder Папка мода"
dll=build/windows/plugin-dll/plugin/AimingPlugin.dll
rm -rf "$dir" && mkdir -p "$dir" || exit 1
sed 's/^weapon22 .*/weapon22 0.33 0.00 0.66/' settings/aimingSets.dat > "$dir/aimingSets.dat"
before=$(sha256sum < "$dir/aimingSets.dat")
fail=0
# --help answers before anything is set up or built; a bad value is refused.
help=$(bash scripts/demo.sh --help 2>&1) || { echo "FAIL: demo --help did not exit 0"; fail=1; }
case $help in *"usage: bash scripts/demo.sh"*"--folder DIR"*) ;; *) echo "FAIL: demo --help: $help"; fail=1 ;; esac
case $help in *building*) echo "FAIL: demo --help built something"; fail=1 ;; esac
bad=$(bash scripts/demo.sh --frames abc 2>&1)
[ $? = 2 ] && case $bad in *"--frames takes a whole number"*) true ;; *) false ;; esac ||
  { echo "FAIL: demo --frames abc: $bad"; fail=1; }
# A run cut short fails, though Wine exits 0 when its wineserver is stopped
# under a program: here a wine that stops half-way, saying nothing.
fake=$(mktemp -d build/fake-wine.XXXXXX) || exit 1
printf '#!/bin/sh\necho "== the first frames"\nexit 0\n' > "$fake/wine" && chmod +x "$fake/wine"
cut=$(PATH="$PWD/$fake:$PATH" AIMING_WINE_SESSION=$$ AIMING_WINE_RUNS=native bash scripts/demo.sh --frames 5 2>&1)
[ $? = 1 ] && case $cut in *"stopped before its end"*) true ;; *) false ;; esac ||
  { echo "FAIL: a demo cut short: $cut"; fail=1; }
rm -rf "$fake"
# A clone in a folder whose path holds a double quote is refused up front,
# in words, before anything is installed or built.
quoted='build/a "quoted" clone'
mkdir -p "$quoted/scripts" && cp -r scripts/setup.sh scripts/emulation "$quoted/scripts/" || exit 1
said=$(bash "$quoted/scripts/setup.sh" 2>&1)
[ $? = 1 ] && case $said in *"holds a double quote"*) true ;; *) false ;; esac ||
  { echo "FAIL: setup.sh in a quoted path: $said"; fail=1; }
rm -rf "$quoted"
out=$(bash scripts/demo.sh --dll "$dll" --folder "$dir" --frames 60 2>&1) || { echo "FAIL: the demo failed"; fail=1; }
expect() {
  printf '%s\n' "$out" | grep -qF -- "$1" || { echo "FAIL: the demo does not say: $1"; fail=1; }
}
expect 'settings file: Z:'
expect 'demo folder Папка мода\aimingSets.dat'
expect 'weapon 22  offset (0.33, 0.00, 0.66)'
expect '    line 17 (weapon 22): 0.33 0 0.66'
expect 'unloaded'
[ "$(ls "$dir" | tr '\n' ' ')" = "AimingPlugin.log aimingSets.dat " ] ||
  { echo "FAIL: the folder holds: $(ls "$dir" | tr '\n' ' ')"; fail=1; }
[ "$(sha256sum < "$dir/aimingSets.dat")" = "$before" ] || { echo "FAIL: the settings file was changed"; fail=1; }
[ $fail = 0 ] || printf '%s\n' "$out"
rm -rf "$dir"
[ $fail = 0 ] && echo "demo: ran $(basename "$dll") in a folder named with spaces and Cyrillic letters"
exit $fail
