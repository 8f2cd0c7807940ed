# Sourced by scripts/setup.sh and scripts/wine-session.sh. Wine's loader and
# wineserver are 32-bit (i386) Linux programs. Some amd64 machines run 64-bit
# user code only; every 32-bit program there fails with "Exec format error".
# On such a machine qemu-i386-static, registered with binfmt_misc, runs them.

binfmt=/proc/sys/fs/binfmt_misc
# The i386 ELF executable and shared-object header, as binfmt_misc matches it.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Runs Wine's own 32-bit loader: 0 when 32-bit programs run here (natively or
# through an emulator), 126 when the kernel refuses them.
i386_runs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Prints the interpreter of the enabled binfmt_misc entry that runs i386
# programs, if there is one: then every 32-bit program runs emulated, even on
# a machine that could run it natively.
i386_emulator() {
  local entry
  [ "$(cat "$binfmt/status" 2>/dev/null)" = enabled ] || return 1
  for entry in "$binfmt"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    grep -q "^magic $(printf "$i386_magic" | od -An -tx1 | tr -d ' \n')\$" "$entry" || continue
    sed -n 's/^interpreter //p' "$entry"
    return 0
  done
  return 1
}

# As root: installs qemu-user-static and registers it for i386 programs.
# Prints what is missing and returns 1 when it cannot.
i386_register_qemu() {
  if [ "$(id -u)" != 0 ]; then
    echo "setup: this machine runs 64-bit programs only, and Wine's are 32-bit; run this command as root once" \
      "so it can register qemu-i386-static for them (binfmt_misc)" >&2
    return 1
  fi
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  fi
  if [ ! -e "$binfmt/register" ] && ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    echo "setup: this machine runs 64-bit programs only, and Wine's are 32-bit; it has no binfmt_misc" \
      "($binfmt cannot be mounted), so nothing can run them: use a machine or container with binfmt_misc" >&2
    return 1
  fi
  [ "$(cat "$binfmt/status")" = enabled ] || echo 1 > "$binfmt/status"
  if [ -e "$binfmt/qemu-i386" ]; then
    echo 1 > "$binfmt/qemu-i386"
  else
    printf '%s' ":qemu-i386:M::$i386_magic:$i386_mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
  fi
}

# Where the preload library for emulated Wine processes is built, by the
# compiler that matches each process's $LIB (lib/i386-linux-gnu for the
# emulated ones; an empty stand-in for any 64-bit program they start).
i386_preload_dir=build/emulation

# Builds scripts/emulation/fixed_noreplace.c for the emulated Wine processes
# and hands it to them through qemu's own environment (QEMU_SET_ENV), so no
# native program sees it.
i386_use_preload() {
  local source=scripts/emulation/fixed_noreplace.c
  local i386_lib=$i386_preload_dir/lib/i386-linux-gnu/fixed_noreplace.so
  local amd64_lib=$i386_preload_dir/lib/x86_64-linux-gnu/fixed_noreplace.so
  if [ ! -f "$i386_lib" ] || [ "$source" -nt "$i386_lib" ]; then
    # Built beside and renamed into place: a run that starts meanwhile sees
    # the old library or the new one, never half of one.
    mkdir -p "${i386_lib%/*}" "${amd64_lib%/*}"
    if ! { echo 'void fixed_noreplace_not_needed(void) {}' |
      clang -x c -O2 -fPIC -shared -nostdlib -o "$amd64_lib.$$" - && mv -f "$amd64_lib.$$" "$amd64_lib" &&
      clang --target=i386-linux-gnu -O2 -fPIC -shared -nostdlib -o "$i386_lib.$$" "$source" &&
      mv -f "$i386_lib.$$" "$i386_lib"; }; then
      echo "note: $source does not build, so Wine runs emulated without its start-up fix (slow)" >&2
      return 0
    fi
  fi
  case $(pwd) in
    *,*) echo "note: this folder's path has a comma, so Wine runs emulated without its start-up fix (slow)" >&2 ;;
    *) export QEMU_SET_ENV="${QEMU_SET_ENV:+$QEMU_SET_ENV,}LD_PRELOAD=$(pwd)/$i386_preload_dir/\$LIB/fixed_noreplace.so" ;;
  esac
}

# What setup does about 32-bit programs: nothing where Wine's loader runs;
# where the kernel refuses it (exit status 126, "Exec format error"), has
# qemu-i386-static run it and says so in one line; otherwise, or when that
# cannot be done, says what is wrong and returns 1.
i386_make_runnable() {
  local status=0
  i386_runs || status=$?
  [ $status = 0 ] && return 0
  if [ $status != 126 ]; then
    echo "setup: Wine does not start: $(/usr/lib/wine/wine --version 2>&1 | head -n 1)" >&2
    return 1
  fi
  i386_register_qemu || return 1
  if ! i386_runs; then
    echo "setup: qemu-i386-static is registered, yet Wine's 32-bit loader still does not start:" \
      "$(/usr/lib/wine/wine --version 2>&1 | head -n 1)" >&2
    return 1
  fi
  echo "setup: this machine runs 64-bit programs only; Wine's 32-bit programs now run through qemu-i386-static" \
    "(registered with binfmt_misc until the machine restarts)"
}
