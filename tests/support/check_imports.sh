#!/usr/bin/env bash
# Fails when a Windows binary imports anything but system DLLs: the programs
# run from a bare setup medium, so no runtime DLL may have to travel along.
# Usage: check_imports.sh OBJDUMP BINARY...
set -uo pipefail
objdump=$1; shift
failed=0
for binary in "$@"; do
  imports=$("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p') || { echo "FAIL: cannot read $binary"; failed=1; continue; }
  [ -n "$imports" ] || { echo "FAIL: no import table in $binary"; failed=1; continue; }
  for name in $imports; do
    case "${name,,}" in
      kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll | shlwapi.dll | ole32.dll | \
      oleaut32.dll | advapi32.dll | msvcrt.dll | msi.dll | uxtheme.dll | ntdll.dll) ;;
      *) echo "FAIL: $binary imports $name, which is not a system DLL"; failed=1 ;;
    esac
  done
  [ $failed -eq 0 ] && echo "ok: $(basename "$binary") imports ${imports//$'\n'/ }"
done
exit $failed
