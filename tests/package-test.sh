#!/bin/sh
# The release zip as a player unpacks it: exactly the six files, checksums that
# verify, the guide and the changelog with CR LF line ends, the version in the
# guide, and the very DLL that was built.
# Arguments: ZIP VERSION BUILT_DLL
set -u
zip=$1 version=$2 dll=$3
# A folder of this run's own: two runs at once never unpack into each other's.
mkdir -p "$(dirname "$zip")/../build" || exit 1
work=$(mktemp -d "$(dirname "$zip")/../build/package-check.XXXXXX") || exit 1
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
dll=$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")
cd "$work" || exit 1
fail=0
cmake -E tar xf "$zip" || { echo "FAIL: $zip does not unpack"; exit 1; }
listed=$(find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
expected="AimingPlugin.dll CHANGELOG README.txt SHA256SUMS aimingSets.dat aimingsets-check.exe "
[ "$listed" = "$expected" ] || { echo "FAIL: the zip holds: $listed"; fail=1; }
sha256sum --quiet -c SHA256SUMS || { echo "FAIL: SHA256SUMS does not verify"; fail=1; }
[ "$(wc -l < SHA256SUMS)" = 5 ] || { echo "FAIL: SHA256SUMS does not list the five other files"; fail=1; }
for text in README.txt CHANGELOG; do
  lines=$(wc -l < "$text")
  crlf=$(grep -c "$(printf '\r')\$" "$text")
  [ "$lines" = "$crlf" ] || { echo "FAIL: $text: $crlf of $lines lines end in CR LF"; fail=1; }
done
grep -q "Aiming Plugin $version" README.txt || { echo "FAIL: README.txt does not name version $version"; fail=1; }
grep -q "^$version" CHANGELOG || { echo "FAIL: CHANGELOG has no entry for $version"; fail=1; }
cmp -s AimingPlugin.dll "$dll" || { echo "FAIL: the zip's DLL is not the one built"; fail=1; }
[ $fail = 0 ] && echo "package check: $(basename "$zip") holds what a player needs"
exit $fail
