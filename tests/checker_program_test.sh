#!/bin/sh
# The checker as a player runs it: exit status for a sound, a broken and a
# missing file, --json, and --template writing the shipped sample.
# Arguments: RUNNER (empty or wine) CHECKER SAMPLE WORKDIR
set -u
runner=$1 checker=$2 sample=$3 work=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
expect() {  # expect STATUS ARGS...
  want=$1; shift
  $runner "$checker" "$@" > out.txt 2>&1
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
expect 0 --template fresh.dat
cmp -s fresh.dat "$sample" || { echo "FAIL: --template differs from the shipped sample"; fail=1; }
exit $fail
