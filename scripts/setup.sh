#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, as root.
# Idempotent: when everything is already there it prints nothing and installs nothing.
# On a machine that runs 64-bit programs only, it has 32-bit ones (Wine's) run
# through qemu-i386-static, or stops and says what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
# CMake (3.25, Debian 12's) cannot configure anything in a folder whose path
# holds a double quote: its own generated files break. Said before any work.
case $PWD in
  *'"'*)
    echo "setup: this clone's path holds a double quote (\"), in which CMake cannot build: $PWD" >&2
    echo "setup: clone it into a folder whose path has none (spaces, ' and any letters are fine)" >&2
    exit 1
    ;;
esac
source scripts/emulation/i386.sh

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake make g++ clang clang-format libclang-rt-14-dev googletest g++-mingw-w64-i686 wine locales git procps zip; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine32:i386 || need+=("wine32:i386")

if ((${#need[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${need[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# A locale with a decimal comma, for the tests that show it changes nothing.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  if [ "$(id -u)" = 0 ]; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || echo "setup: could not build the de_DE.UTF-8 locale" >&2
  fi
fi

# Wine's loader is a 32-bit program; a machine that cannot run it gets an
# emulator for it, or a word on what is missing.
i386_make_runnable || exit 1
