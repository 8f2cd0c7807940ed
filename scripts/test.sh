#!/usr/bin/env bash
# Sets up whatever is missing, checks the formatting, builds everything and
# runs every test: the settings library and checker natively under
# AddressSanitizer and UBSan plus a short fuzz run, then the Windows build
# (plugin, stand-in host, test modules) under Wine; then the release package,
# the README against the tree, and the scripts against another Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-format.sh
source scripts/wine-session.sh

cmake --workflow --preset native
cmake --workflow --preset windows
bash scripts/package.sh
bash tests/readme_test.sh
bash tests/other_wine_test.sh
echo "release checks: 3 passed, 0 failed"
