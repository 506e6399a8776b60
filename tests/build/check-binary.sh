#!/bin/sh
# Checks the shape of the shipped executable:
#   check-binary.sh <talvex-updater.exe> <objdump> <largest size in bytes, or none>
# x86-64 PE, GUI subsystem, no resource section, no link timestamp, no symbols and no debug
# information, and imports from system DLLs only (no libstdc++, libgcc or winpthread DLL needed
# beside it), each of which the oldest Windows supported has (kernel32-imports.txt). What is
# checked is the file's content, not a header flag only one linker sets.
set -u
exe=$1
objdump=$2
max_size=$3
fail=0
headers=$($objdump -p "$exe") || exit 1
sections=$($objdump -h "$exe") || exit 1
symbols=$($objdump -t "$exe") || exit 1
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

check "x86-64 image" 'echo "$headers" | grep -q "file format pei-x86-64"'
check "GUI subsystem" 'echo "$headers" | grep -q "Subsystem.*(Windows GUI)"'
check "no resource section" '! echo "$sections" | grep -q "\.rsrc"'
check "no link timestamp" 'echo "$headers" | grep -q "Time/Date.*1970"'
check "no symbol table" 'echo "$symbols" | grep -q "^no symbols$"'
check "no debug sections" '! echo "$sections" | grep -q "\.debug"'
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
echo "imports: $dlls"
check "imports only kernel32 and the C runtime" '[ "$dlls" = "kernel32.dll msvcrt.dll " ]'
# Every kernel32 import must exist on the oldest Windows supported (see the list's header). The
# name is the last column: objdump 2.40 writes "vma hint name", 2.44 "vma <none> hint name".
imports=$(echo "$headers" | awk '/DLL Name:/ { k = (tolower($3) == "kernel32.dll"); next }
  k && $1 ~ /^[0-9a-f]+$/ && (NF == 3 || (NF == 4 && $2 == "<none>")) { print $NF }')
unreviewed=$(echo "$imports" | grep -vxF -f "$(dirname "$0")/kernel32-imports.txt")
[ -z "$unreviewed" ] || echo "kernel32 imports not in kernel32-imports.txt:" $unreviewed
check "kernel32 imports all exist on the oldest Windows supported" '[ -n "$imports" ] && [ -z "$unreviewed" ]'
size=$(wc -c <"$exe")
echo "size: $size bytes"
if [ "$max_size" = none ]; then
  echo "size: not bounded (built by a compiler that does not ship)"
else
  check "at most $max_size bytes on disk" '[ "$size" -le "$max_size" ]'
fi
exit $fail
