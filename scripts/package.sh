#!/usr/bin/env bash
# Sets up whatever is missing, builds the plugin and the checker, and makes the
# release package dist/AimingPlugin-<version>.zip: one folder,
# AimingPlugin-<version>/, holding the DLL, the sample settings file, the
# checker, README.txt, CHANGELOG.txt, LICENSE.txt and SHA256SUMS.txt. Then builds the same
# commit again in a folder of its own and checks that the DLL, the checker
# and the zip come out the same, byte for byte; then checks what the zip holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build dist
run() {  # LOG COMMAND...: quiet unless it fails
  local log=$1
  shift
  "$@" > "$log" 2>&1 || { cat "$log"; exit 1; }
}
build_first() { cmake --preset windows && cmake --build --preset windows --target release_zip; }
run build/package.log build_first
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
zip=AimingPlugin-$version.zip

# The same commit, built again in another folder and at another time.
again=$(mktemp -d "$PWD/build/package-again.XXXXXX")
trap 'rm -rf "$again"' EXIT
build_again() {
  cmake -S . -B "$again" --toolchain cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$again" --target release_zip -j 2
}
run build/package-again.log build_again
same=0
for file in plugin-dll/plugin/AimingPlugin.dll tools/settings_checker/aimingsets-check.exe "package/$zip"; do
  if cmp -s "build/windows/$file" "$again/$file"; then
    same=$((same + 1))
  else
    echo "package: FAIL: $(basename "$file") differs between two builds of the same commit"
  fi
done
[ $same = 3 ] || exit 1
echo "package: two builds of this commit, in two folders, gave the same DLL, checker and zip, byte for byte"

cp "build/windows/package/$zip" "dist/$zip"
bash tests/package-test.sh "dist/$zip" "$version" build/windows/plugin-dll/plugin/AimingPlugin.dll
echo "package: dist/$zip"
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "package: built with uncommitted changes (the files name the commit with +changes): commit them and" \
    "package again before you release"
fi
echo "package: to release it, tag this commit: git tag v$version $(git rev-parse --short HEAD 2>/dev/null || echo HEAD)" \
  "&& git push origin v$version; publish the zip's own SHA-256 beside the download: $(sha256sum "dist/$zip" | cut -d' ' -f1)"
