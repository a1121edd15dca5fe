#!/bin/sh
# check-exports.sh OBJDUMP DLL: the DLL exports exactly the host's names
# (undecorated, leading underscore kept) and needs no DLL beyond Windows' own.
objdump=$1; dll=$2
expected=$(dirname "$0")/exports.txt
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9][0-9]*\] //p' | sort)
want=$(grep -v '^#' "$expected" | sort)
if [ "$actual" != "$want" ]; then
  echo "export table differs"; echo "expected:"; echo "$want"; echo "actual:"; echo "$actual"; exit 1
fi
imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for d in $imports; do
  case "$d" in
    kernel32.dll|msvcrt.dll|wininet.dll|user32.dll|advapi32.dll|ws2_32.dll|api-ms-win-*) ;;
    *) echo "unexpected DLL dependency: $d"; exit 1 ;;
  esac
done
echo "exports:"; echo "$actual"; echo "imports: $imports" | tr '\n' ' '; echo
