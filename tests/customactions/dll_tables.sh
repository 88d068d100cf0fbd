#!/usr/bin/env bash
# Checks what Windows Installer and a bare machine see of Quorvis.dll: the
# custom action exported under its plain name (no stdcall @4, no C++
# mangling, nothing else exported) and imports from system DLLs only, so
# that no runtime DLL has to travel with the package.
# Usage: dll_tables.sh OBJDUMP DLL
set -uo pipefail
objdump=$1 dll=$2

tables=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p $dll did not run"; exit 1; }
failed=0

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" | sed -n 's/^\s*\[ *[0-9]*\] //p')
if [ "$exports" != "MsiCheckForHigherVersions" ]; then
  echo "FAIL: $dll exports [${exports//$'\n'/, }], expected exactly [MsiCheckForHigherVersions]"
  failed=1
fi

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$tables")
[ -n "$imports" ] || { echo "FAIL: no import table found in $dll"; failed=1; }
for name in $imports; do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll | msi.dll) ;;
    *) echo "FAIL: $dll imports $name, which is not a system DLL it may rely on"; failed=1 ;;
  esac
done

[ $failed -eq 0 ] && echo "ok: $dll exports MsiCheckForHigherVersions, imports ${imports//$'\n'/ }"
exit $failed
