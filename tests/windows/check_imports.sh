#!/usr/bin/env bash
# The wizard travels alone on a setup medium: it may import system DLLs only.
set -u
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|msvcrt|shlwapi|uxtheme|ws2_32)\.dll$|^api-ms-win-crt-'
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
  [ -n "$dlls" ] || { echo "$program: no imports found"; status=1; }
  echo "$program imports:" $dlls
  for dll in $dlls; do
    grep -Eq "$allowed" <<<"$dll" || { echo "$program: not a system DLL: $dll"; status=1; }
  done
done
exit $status
