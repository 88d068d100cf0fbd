#!/bin/sh
# Release builds must not carry the fault switches: the platform library may
# name none of them. Its ordinary symbols prove that nm read it at all.
nm=$1 library=$2
symbols=$("$nm" -C "$library") || exit 1
printf '%s\n' "$symbols" | grep -q CreateFolderTree || { echo "nm found no platform symbols in $library"; exit 1; }
if printf '%s\n' "$symbols" | grep -q fault_injection; then
  echo "$library contains fault-injection hooks"
  exit 1
fi
