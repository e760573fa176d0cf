#!/usr/bin/env bash
# Checks that Windows programs import nothing beyond the DLLs every Windows
# has, so that they run on a bare system: usage: check-imports.sh PROGRAM.EXE...
set -euo pipefail
allowed=(KERNEL32.dll msvcrt.dll)
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$dlls" ]; then
    echo "check-imports: $program: no imports found (not a PE program?)" >&2
    status=1
  fi
  for dll in $dlls; do
    ok=false
    for allow in "${allowed[@]}"; do
      if [ "${dll,,}" = "${allow,,}" ]; then ok=true; fi
    done
    if $ok; then
      echo "check-imports: $program: $dll"
    else
      echo "check-imports: $program imports $dll, which not every Windows has" >&2
      status=1
    fi
  done
done
exit $status
