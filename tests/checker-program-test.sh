#!/bin/sh
# The checker as a player runs it: exit status for a sound, a broken and a
# missing file, a folder, a pipe, a full disk, files saved the way editors
# save them, --json for any path, --template that never replaces a file by
# surprise, the plugin's ini beside the settings file or named, --version,
# --game of files that are not the game.
# Arguments: RUNNER (empty or wine) CHECKER SAMPLE WORKDIR VERSION
set -u
runner=$1 checker=$2 sample=$3 work=$4 version=$5
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
expect() {  # expect STATUS ARGS...
  want=$1; shift
  $runner "$checker" "$@" > out.txt 2>&1 < /dev/null
  got=$?
  if [ "$got" != "$want" ]; then echo "FAIL: $* exited $got, expected $want"; cat out.txt; fail=1; fi
}
cp "$sample" aimingSets.dat
expect 0                                   # the default file name, beside the player
expect 0 aimingSets.dat
grep -q "no problems found" out.txt || { echo "FAIL: sample reported problems"; fail=1; }
sed '12s/.*/aimRow1 0.5 0.5 0.5/' "$sample" > broken.dat
expect 1 broken.dat
grep -q "line 12: only 3 of 7 values read" out.txt || { echo "FAIL: broken line not reported"; cat out.txt; fail=1; }
expect 1 --json broken.dat
grep -q '"status": 1' out.txt || { echo "FAIL: json status"; cat out.txt; fail=1; }
expect 2 missing.dat
grep -q "cannot be read: no such file" out.txt || { echo "FAIL: no reason for a missing file"; cat out.txt; fail=1; }
grep -q "looked at .*missing.dat" out.txt || { echo "FAIL: no full path for a missing file"; cat out.txt; fail=1; }
mkdir folder.dat
expect 2 folder.dat                        # a folder is no settings file, on every system
grep -q "it is a folder" out.txt || { echo "FAIL: a folder not named as one"; cat out.txt; fail=1; }
# A pipe is no settings file either, and the checker does not wait for a writer.
mkfifo fifo.dat
timeout 120 $runner "$checker" fifo.dat > out.txt 2>&1 < /dev/null
got=$?
[ "$got" = 2 ] || { echo "FAIL: a pipe exited $got (124: it hung)"; cat out.txt; fail=1; }
grep -q "not a file on a disk" out.txt || { echo "FAIL: a pipe not named as one"; cat out.txt; fail=1; }
# No success claimed that was not had: a report or a sample that cannot be
# written all (a full disk) exits 2 and says so.
$runner "$checker" aimingSets.dat > /dev/full 2> err.txt < /dev/null
got=$?
[ "$got" = 2 ] || { echo "FAIL: a report to a full disk exited $got"; cat err.txt; fail=1; }
if [ -z "$runner" ]; then
  expect 2 --template /dev/full --force
  grep -q "cannot write /dev/full" out.txt || { echo "FAIL: a sample to a full disk claimed success"; cat out.txt; fail=1; }
fi

# As editors save: one blank line after line 31, CR LF line ends with a
# heading of exactly 511 characters.
{ cat "$sample"; printf '\n'; } > trailing-blank.dat
expect 0 trailing-blank.dat
long=$(printf '%511s' '' | tr ' ' '=')
sed "2s/.*/$long/" "$sample" | sed 's/$/\r/' > crlf-511.dat
expect 0 crlf-511.dat

# --template writes the shipped sample, and never over a file unless --force.
expect 0 --template fresh.dat
cmp -s fresh.dat "$sample" || { echo "FAIL: --template differs from the shipped sample"; fail=1; }
cp broken.dat tuned.dat
expect 2 --template tuned.dat
cmp -s tuned.dat broken.dat || { echo "FAIL: --template replaced an existing file"; fail=1; }
grep -q "already exists" out.txt || { echo "FAIL: no word about the existing file"; cat out.txt; fail=1; }
expect 2 tuned.dat --template
cmp -s tuned.dat broken.dat || { echo "FAIL: FILE --template replaced an existing file"; fail=1; }
expect 0 --template tuned.dat --force
cmp -s tuned.dat "$sample" || { echo "FAIL: --force did not replace the file"; fail=1; }

# --json is valid UTF-8 for a path in any script (and, on Linux, for bytes
# that are no UTF-8 at all).
cp "$sample" "Папка-フォルダ.dat"
expect 0 --json "Папка-フォルダ.dat"
grep -q '"file": "Папка-フォルダ.dat"' out.txt || { echo "FAIL: path not in the JSON as written"; cat out.txt; fail=1; }
if [ -z "$runner" ]; then
  cp "$sample" "$(printf 'bad\377name.dat')"
  expect 0 --json "$(printf 'bad\377name.dat')"
  grep -q 'bad\\ufffdname.dat' out.txt || { echo "FAIL: a byte that is no UTF-8 not replaced"; cat out.txt; fail=1; }
fi
iconv -f UTF-8 -t UTF-8 out.txt > /dev/null || { echo "FAIL: --json output is not UTF-8"; fail=1; }

# --game reads a program from disk, and tells what is not the game for what it is.
expect 2 --game aimingSets.dat
grep -q "not the game: it is not a Windows program" out.txt || { echo "FAIL: --game of a text file"; cat out.txt; fail=1; }
expect 2 --game
grep -q "usage: aimingsets-check" out.txt || { echo "FAIL: --game without a file"; cat out.txt; fail=1; }
expect 2 --game missing.exe
grep -q "cannot be read: no such file" out.txt || { echo "FAIL: --game of a missing file"; cat out.txt; fail=1; }
printf 'MZ' > cut.exe
expect 2 cut.exe                           # an .exe named alone is checked as the game
grep -q "cut short" out.txt || { echo "FAIL: a cut-short .exe"; cat out.txt; fail=1; }
expect 2 --json --game cut.exe aimingSets.dat
grep -q '"program": false' out.txt && grep -q '"linesRead": 31' out.txt ||
  { echo "FAIL: --json of a game and a settings file"; cat out.txt; fail=1; }
cp "$checker" program.exe
if [ -n "$runner" ]; then                  # a 32-bit Windows program, but not the game
  expect 1 aimingSets.dat program.exe     # both dropped on it, in any order
  grep -q "the plugin in this game: not active (this is not a game the plugin knows)" out.txt &&
    grep -q "no problems found" out.txt || { echo "FAIL: --game of another program"; cat out.txt; fail=1; }
else                                       # no Windows program at all
  expect 2 --game program.exe
  grep -q "not a Windows program" out.txt || { echo "FAIL: --game of a native program"; cat out.txt; fail=1; }
fi

# The plugin's options: --template writes the ini's sample; beside the
# settings file checked, the ini is found and checked too; named alone, it is
# checked alone; a mistake in it is named with its line, and exits 1.
mkdir options && cp "$sample" options/aimingSets.dat
expect 0 --template options/AimingPlugin.ini
grep -q "^;Hold = RightMouse" options/AimingPlugin.ini || { echo "FAIL: --template of an .ini"; fail=1; }
expect 0 options/aimingSets.dat
grep -q "AimingPlugin.ini: the toggle: RightMouse held, Space pressed; sounds off" out.txt ||
  { echo "FAIL: the ini beside the settings file not checked"; cat out.txt; fail=1; }
printf '[Toggle]\r\nHold = X1Mouse\r\nPress = F55\r\n' > options/AimingPlugin.ini
expect 1 options/aimingSets.dat
grep -q 'line 3: no key is named "F55"' out.txt || { echo "FAIL: a mistake in the ini"; cat out.txt; fail=1; }
expect 1 options/AimingPlugin.ini
grep -q "X1Mouse held, Space pressed" out.txt && ! grep -q "31 line(s) read" out.txt ||
  { echo "FAIL: the ini named alone"; cat out.txt; fail=1; }

expect 0 --version
tr -d "\r" < out.txt | grep -qx "aimingsets-check $version (built from commit .*)" ||
  { echo "FAIL: --version"; cat out.txt; fail=1; }
expect 0 --help
grep -q "usage: aimingsets-check" out.txt || { echo "FAIL: --help"; fail=1; }
expect 2 --no-such-option
exit $fail
