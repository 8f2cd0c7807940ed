#!/bin/sh
# Windows 7 SP1 and later: every function the given binaries import is in the
# list kept in the repository, with the first Windows version that has it,
# and none is newer than Windows 7 (6.1); nor is the Windows version their PE
# headers ask for. A new import fails here until it is listed.
# Arguments: OBJDUMP LIST BINARY...
set -u
objdump=$1 list=$2
shift 2
fail=0
newer=$(awk '!/^#/ && NF == 3 && ($3 + 0) > 6.1 { print $1 " " $2 " (" $3 ")" }' "$list")
[ -z "$newer" ] || { echo "FAIL: listed imports newer than Windows 7: $newer"; fail=1; }
checked=0
for binary in "$@"; do
  dump=$("$objdump" -p "$binary")
  imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ { dll = $3 } /^\t[ 0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $NF }')
  for field in OSystem Subsystem; do
    asked=$(printf '%s\n' "$dump" | awk -v f="$field" '$1 == "Major" f "Version" { major = $2 }
      $1 == "Minor" f "Version" { minor = $2 } END { print major "." minor }')
    awk -v v="$asked" 'BEGIN { split(v, p, "."); exit !(p[1] < 6 || (p[1] == 6 && p[2] <= 1)) }' ||
      { echo "FAIL: $(basename "$binary") asks for Windows $asked ($field version)"; fail=1; }
  done
  [ -n "$imports" ] || { echo "FAIL: no imports read from $binary"; fail=1; }
  unlisted=$(printf '%s\n' "$imports" | while read -r dll function; do
    awk -v dll="$dll" -v f="$function" 'BEGIN { found = 0 }
      !/^#/ && tolower($1) == tolower(dll) && $2 == f { found = 1 } END { exit !found }' "$list" || echo "$dll $function"
  done)
  [ -z "$unlisted" ] || { echo "FAIL: $(basename "$binary") imports what $list does not list:"; echo "$unlisted"; fail=1; }
  checked=$((checked + $(printf '%s\n' "$imports" | wc -l)))
done
[ $fail = 0 ] && echo "imports: all $checked imports of the $# binaries are in $(basename "$list"), and neither they nor the PE headers ask for more than Windows 7"
exit $fail
