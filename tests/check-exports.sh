#!/bin/sh
# check-exports.sh OBJDUMP DLL [PROGRAM...]: the DLL exports exactly the host's
# names (undecorated, leading underscore kept), and neither it nor any PROGRAM
# needs a DLL beyond Windows' own (no compiler runtime to ship beside them).
objdump=$1; dll=$2; shift 2
expected=$(dirname "$0")/exports.txt
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9][0-9]*\] //p' | sort)
want=$(grep -v '^#' "$expected" | sort)
if [ "$actual" != "$want" ]; then
  echo "export table differs"; echo "expected:"; echo "$want"; echo "actual:"; echo "$actual"; exit 1
fi
echo "exports:"; echo "$actual"
for file in "$dll" "$@"; do
  [ -f "$file" ] || { echo "missing: $file"; exit 1; }
  imports=$("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for d in $imports; do
    case "$d" in
      kernel32.dll|msvcrt.dll|wininet.dll|user32.dll|advapi32.dll|ws2_32.dll|api-ms-win-*) ;;
      *) echo "unexpected DLL dependency of $(basename "$file"): $d"; exit 1 ;;
    esac
  done
  echo "imports of $(basename "$file"): $imports" | tr '\n' ' '; echo
done
