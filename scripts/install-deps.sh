#!/usr/bin/env bash
# Installs everything the build and the tests need from Debian's packages.
# Idempotent: a machine that has it all does no network work at all.
# Never installs the 32-bit Wine loader: it breaks the plain `wine` command here.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth x11-utils xdotool imagemagick msitools wixl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
