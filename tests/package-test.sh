#!/bin/sh
# The release zip as a player unpacks it: one folder, AimingPlugin-<version>/,
# with exactly the seven files, names Windows knows how to open, checksums that
# verify, the guide and the changelog with CR LF line ends, the version in the
# guide, dated changelog entries, the commit it was built from named in the
# guide, the changelog and both programs, and the very DLL that was built.
# Arguments: ZIP VERSION BUILT_DLL
set -u
zip=$1 version=$2 dll=$3
source=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$source" rev-parse HEAD 2>/dev/null) || commit=unknown
if [ "$commit" != unknown ] && [ -n "$(git -C "$source" status --porcelain --untracked-files=no)" ]; then
  commit="$commit+changes"
fi
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
folder=AimingPlugin-$version
[ "$(ls -A)" = "$folder" ] || { echo "FAIL: the zip unpacks into: $(ls -A | tr '\n' ' ')"; exit 1; }
cd "$folder" || exit 1
listed=$(find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
expected="AimingPlugin.dll AimingPlugin.ini CHANGELOG.txt LICENSE.txt README.txt SHA256SUMS.txt aimingSets.dat aimingsets-check.exe "
[ "$listed" = "$expected" ] || { echo "FAIL: $folder holds: $listed"; fail=1; }
sha256sum --quiet -c SHA256SUMS.txt || { echo "FAIL: SHA256SUMS.txt does not verify"; fail=1; }
[ "$(wc -l < SHA256SUMS.txt)" = 7 ] || { echo "FAIL: SHA256SUMS.txt does not list the seven other files"; fail=1; }
for text in README.txt CHANGELOG.txt LICENSE.txt AimingPlugin.ini; do
  lines=$(wc -l < "$text")
  crlf=$(grep -c "$(printf '\r')\$" "$text")
  [ "$lines" = "$crlf" ] || { echo "FAIL: $text: $crlf of $lines lines end in CR LF"; fail=1; }
done
grep -q "Aiming Plugin $version" README.txt || { echo "FAIL: README.txt does not name version $version"; fail=1; }
grep -q "^MIT License" LICENSE.txt || { echo "FAIL: LICENSE.txt is not the MIT licence"; fail=1; }
grep -q "Get-FileHash" README.txt || { echo "FAIL: README.txt has no line that checks the sums on Windows"; fail=1; }
grep -q "^$version ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])" CHANGELOG.txt ||
  { echo "FAIL: CHANGELOG.txt has no dated entry for $version"; fail=1; }
undated=$(grep -E '^[0-9]+\.[0-9]+\.[0-9]+' CHANGELOG.txt | grep -vE '^[0-9.]+ \([0-9]{4}-[0-9]{2}-[0-9]{2}\)')
[ -z "$undated" ] || { echo "FAIL: CHANGELOG.txt entries without a date: $undated"; fail=1; }
grep -qF "Built from commit $commit of its source." README.txt ||
  { echo "FAIL: README.txt does not name commit $commit"; fail=1; }
grep -qF "This copy: version $version, built from commit $commit." CHANGELOG.txt ||
  { echo "FAIL: CHANGELOG.txt does not name commit $commit"; fail=1; }
for program in AimingPlugin.dll aimingsets-check.exe; do
  strings -el "$program" | grep -qxF "Built from commit $commit" ||
    { echo "FAIL: $program's version resource does not name commit $commit"; fail=1; }
done
cmp -s AimingPlugin.dll "$dll" || { echo "FAIL: the zip's DLL is not the one built"; fail=1; }
[ $fail = 0 ] && echo "package check: $(basename "$zip") unpacks into $folder/ and holds what a player needs"
exit $fail
