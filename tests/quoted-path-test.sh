#!/bin/sh
# A clone in a folder whose name holds a ' builds: the version resource (the
# one step that hands paths to a shell: its file's and its target's include
# folders) is compiled there, by the project's own rule, into a small DLL,
# which then names its commit.
# Run from the repository's root.
set -u
work=$(mktemp -d "$(pwd)/build/quoted-path.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
project="$work/the player's clone"
mkdir -p "$project" && cp -r cmake "$project/" || exit 1
cat > "$project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(QuotedPath VERSION 1.2.3 LANGUAGES C RC)
include(cmake/VersionResource.cmake)
add_library(probe SHARED probe.c)
set_target_properties(probe PROPERTIES PREFIX "")
target_include_directories(probe PRIVATE ${PROJECT_SOURCE_DIR})
add_version_resource(probe "A probe" probe.dll VFT_DLL)
CMAKE
echo 'int probe(void) { return 0; }' > "$project/probe.c"
if ! { cmake -S "$project" -B "$project/build" --toolchain "$project/cmake/mingw-i686.cmake" &&
  cmake --build "$project/build"; } > "$work/build.log" 2>&1; then
  echo "FAIL: a project in \"$project\" does not build:"
  cat "$work/build.log"
  exit 1
fi
strings -el "$project/build/probe.dll" | grep -q "^Built from commit [0-9a-f]" ||
  { echo "FAIL: the DLL's version resource does not name its commit"; exit 1; }
echo "quoted path: the version resource builds in a folder named with a '"
