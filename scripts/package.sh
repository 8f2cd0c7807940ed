#!/usr/bin/env bash
# Sets up whatever is missing, builds the plugin and the checker, and makes the
# release package dist/AimingPlugin-<version>.zip through CPack: the DLL, the
# sample settings file, the checker, README.txt, CHANGELOG and SHA256SUMS.
# Then checks what the zip holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
{ cmake --preset windows && cmake --build --preset windows --target release_files; } > build/package.log 2>&1 ||
  { cat build/package.log; exit 1; }
(cd build/windows && cpack --config CPackConfig.cmake) > build/package.log 2>&1 || { cat build/package.log; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
zip=AimingPlugin-$version.zip
mkdir -p dist
cp "build/windows/package/$zip" "dist/$zip"
bash tests/package-test.sh "dist/$zip" "$version" build/windows/plugin-dll/plugin/AimingPlugin.dll
echo "package: dist/$zip"
