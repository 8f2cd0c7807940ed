#!/bin/sh
# What a player copies must run on its own: the plugin DLL exports nothing and
# imports only system DLLs. Arguments: OBJDUMP DLL
set -u
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll") || exit 1
fail=0
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
for name in $imports; do
  case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll|user32.dll|msvcrt.dll) ;;
    *) echo "FAIL: $dll imports $name"; fail=1 ;;
  esac
done
exported=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -c '\[ *[0-9]')
if [ "$exported" != 0 ]; then echo "FAIL: $dll exports $exported name(s)"; fail=1; fi
echo "imports: $(echo $imports)"
exit $fail
