#!/bin/sh
# Every Windows program the build makes imports only DLLs that Windows itself provides, so that
# none needs a runtime DLL beside it (a libstdc++ or libgcc DLL, which no Windows has) and none
# can stop starting unnoticed where nobody runs it:
#   check-imports.sh <objdump> <program.exe>...
set -u
objdump=$1
shift
system='kernel32|msvcrt|ntdll|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|shlwapi|version|psapi|ws2_32|bcrypt|userenv|msi'
fail=0
for exe in "$@"; do
  # No import table read (a missing or broken file) counts as a foreign import.
  dlls=$($objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  verdict=ok
  [ -n "$dlls" ] && ! echo "$dlls" | grep -qvxE "($system)\.dll" || { verdict=FAIL; fail=1; }
  echo "$verdict: ${exe##*/} imports" $dlls
done
exit $fail
