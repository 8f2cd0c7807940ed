#!/bin/sh
# The README tells the truth about the tree: every repository path it names
# in backquotes exists (build/ and dist/ ones after the builds; those that
# the run scripts make, once a script has run), every script
# it tells you to run exists, and every preset and build target its commands
# name is one CMake knows. Run from the repository's root, after both builds.
set -u
fail=0
version=$(sed -n 's/^project(AimingPlugin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# Words that name something in the tree, in backquotes and in the README's
# command blocks; a folder that a command block makes itself (mkdir) counts.
made=$(grep -o 'mkdir -p [^ ]*' README.md | sed 's/mkdir -p //')
words=$( { grep -o '`[^`]*`' README.md | tr -d '`'; sed -n '/^```sh$/,/^```$/p' README.md; } | tr ' \t' '\n\n' |
  grep -E '^(build|dist|scripts|settings|tests|tools|docs|cmake|fuzz|plugin|host|codepatch|standin_host|benchmarks)/' |
  sed 's/[,.;:)]*$//' | sort -u)
checked=0
for path in $words; do
  case $path in *'*'*) continue ;; esac  # globs
  path=$(printf '%s' "$path" | sed "s/<version>/$version/g")
  checked=$((checked + 1))
  printf '%s\n' "$made" | grep -qx "$path" && continue
  # What the run scripts make under build/ (the Wine prefix, say) may not be
  # there yet when this runs on its own.
  case $path in build/*) [ -e "$path" ] || ! grep -rqF "$path" scripts || continue ;; esac
  [ -e "$path" ] || { echo "FAIL: README names $path, which does not exist"; fail=1; }
done
[ $checked -gt 10 ] || { echo "FAIL: only $checked paths found in the README"; fail=1; }
# The commands: scripts, presets and targets.
for script in $(grep -o 'bash scripts/[a-z-]*\.sh' README.md | sed 's/^bash //' | sort -u); do
  [ -f "$script" ] || { echo "FAIL: README runs $script, which does not exist"; fail=1; }
done
for preset in $(grep -o -- '--preset [a-z]*' README.md | sed 's/--preset //' | sort -u); do
  grep -q "\"name\": \"$preset\"" CMakePresets.json || { echo "FAIL: README names preset $preset"; fail=1; }
done
targets=$(cmake --build build/windows --target help 2>/dev/null || true)
for target in $(grep -o -- '--target [A-Za-z_-]*' README.md | sed 's/--target //' | sort -u); do
  printf '%s\n' "$targets" | grep -q "\.\.\. $target\$" || { echo "FAIL: README builds target $target, unknown"; fail=1; }
done
[ $fail = 0 ] && echo "README: every path, script, preset and target it names exists"
exit $fail
