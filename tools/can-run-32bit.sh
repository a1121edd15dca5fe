#!/bin/sh
# Exit 0 when this machine can execute 32-bit x86 programs (and so Wine's
# 32-bit loader). Some virtual machines run a kernel without 32-bit support;
# there every 32-bit program fails with "Exec format error".
for loader in /lib/ld-linux.so.2 /usr/lib/wine/wineserver32; do
  [ -x "$loader" ] || continue
  "$loader" --version >/dev/null 2>&1
  [ $? -eq 126 ] && exit 1   # the kernel refused to execute it
  exit 0
done
exit 1
