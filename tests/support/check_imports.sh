#!/usr/bin/env bash
# Fails when a Windows binary imports anything but system DLLs: the programs
# run from a bare setup medium, so no runtime DLL may have to travel along.
# With --system-folder-only, only the DLLs that Windows always maps from its
# own folder (KnownDLLs, whose own imports are known as well) may be imported:
# the setup runs elevated from a downloads folder, where a DLL of any other
# name, or one that a system DLL's imports or forwards reach (shell32 and
# shlwapi forward to shcore), would be taken from beside it before the
# program's first line runs. Such DLLs are loaded at run time instead.
# Usage: check_imports.sh [--system-folder-only] OBJDUMP BINARY...
set -uo pipefail
allowed='kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|shlwapi.dll|ole32.dll|oleaut32.dll|advapi32.dll|msvcrt.dll|msi.dll|uxtheme.dll|ntdll.dll'
if [ "${1:-}" = --system-folder-only ]; then
  allowed='kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|ole32.dll|msvcrt.dll'
  shift
fi
objdump=$1; shift
failed=0
for binary in "$@"; do
  imports=$("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p') || { echo "FAIL: cannot read $binary"; failed=1; continue; }
  [ -n "$imports" ] || { echo "FAIL: no import table in $binary"; failed=1; continue; }
  for name in $imports; do
    [[ "${name,,}" =~ ^($allowed)$ ]] || { echo "FAIL: $binary imports $name, which is not one of $allowed"; failed=1; }
  done
  [ $failed -eq 0 ] && echo "ok: $(basename "$binary") imports ${imports//$'\n'/ }"
done
exit $failed
