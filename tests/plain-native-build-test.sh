#!/bin/sh
# The checker and its tests build natively as a packager builds them: a
# Release build with the system's compiler (g++), without the sanitizers or
# the fuzzers of the native preset; its checker runs.
# Run from the repository's root.
set -u
work=build/plain-native
cmake -S . -B "$work" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >"$work.log" 2>&1 &&
  cmake --build "$work" -j2 --target aimingsets-check settings_check_tests >>"$work.log" 2>&1 || {
  cat "$work.log"
  echo "plain-native-build-test: the Release build does not build"
  exit 1
}
"$work/tools/settings_checker/aimingsets-check" --template "$work/sample.dat" >/dev/null &&
  "$work/tools/settings_checker/aimingsets-check" "$work/sample.dat" >/dev/null || {
  echo "plain-native-build-test: the Release checker does not check its own template"
  exit 1
}
"$work/tests/native/settings_check_tests" --gtest_brief=1 >"$work-tests.log" 2>&1 || {
  cat "$work-tests.log"
  echo "plain-native-build-test: the checker's tests fail in the Release build"
  exit 1
}
echo "plain-native-build-test: the Release build without sanitizers builds, and its checker and tests pass"
