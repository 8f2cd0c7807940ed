#!/usr/bin/env bash
# What setup does about a machine that cannot run Wine's 32-bit loader, case
# by case, against a binfmt_misc folder of the test's own: the machine's
# real one, its packages and its mounts are never touched. The kernel's
# answer, root or not, and what binfmt_misc holds are played by stubs; the
# decision and the registration are scripts/emulation/i386.sh's own.
# Run from the repository's root.
set -u
source scripts/emulation/i386.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stubs. A fake loader: refused (126) until an enabled qemu-i386 entry
# exists in the fake folder, or failing the way the case says.
loader=refused uid=0 can_mount=yes
i386_runs() {
  case $loader in
    native) return 0 ;;
    broken) return 1 ;;
  esac
  [ -s "$binfmt/register" ] || [ "$(cat "$binfmt/qemu-i386" 2>/dev/null)" = 1 ] || return 126
}
id() { echo "$uid"; }
dpkg-query() { echo "install ok installed"; }
mount() { [ $can_mount = yes ] && : > "$binfmt/register" && echo enabled > "$binfmt/status"; }

fail=0
# case: loader uid binfmt-state (none: no binfmt_misc; empty; disabled: a
# qemu-i386 entry switched off), then the status and a word of the output.
while read -r name loader uid state want_status want_word; do
  binfmt=$work/$name
  mkdir -p "$binfmt"
  can_mount=yes
  case $state in
    none) rm -rf "$binfmt" && mkdir -p "$binfmt" && can_mount=no ;;
    unmounted) ;;
    empty) : > "$binfmt/register" && echo enabled > "$binfmt/status" ;;
    disabled) : > "$binfmt/register" && echo enabled > "$binfmt/status" && echo 0 > "$binfmt/qemu-i386" ;;
  esac
  out=$(i386_make_runnable 2>&1)
  status=$?
  if [ $status != "$want_status" ] || ! grep -q -- "$want_word" <<< "${out:-(silent)}"; then
    echo "FAIL: $name: status $status, said: ${out:-(nothing)}"
    fail=1
  fi
  if [ "$name" = registers ]; then
    want=":qemu-i386:M::$i386_magic:$i386_mask:/usr/bin/qemu-i386-static:F"
    [ "$(cat "$binfmt/register")" = "$want" ] || { echo "FAIL: registered: $(cat "$binfmt/register")"; fail=1; }
  fi
done <<'EOF'
native native 0 empty 0 (silent)
registers refused 0 empty 0 qemu-i386-static
mounts-first refused 0 unmounted 0 qemu-i386-static
re-enables refused 0 disabled 0 qemu-i386-static
not-root refused 1000 empty 1 as root
no-binfmt refused 0 none 1 no binfmt_misc
wine-broken broken 0 empty 1 Wine does not start
EOF
[ $fail = 0 ] && echo "setup on a machine without 32-bit support: every case as expected"
exit $fail
