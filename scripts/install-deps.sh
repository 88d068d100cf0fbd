#!/usr/bin/env bash
# Installs everything the build and the tests need from Debian's packages.
# Idempotent: a machine that has it all does no network work at all.
# Never installs the 32-bit Wine loader: it breaks the plain `wine` command here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  g++ cmake ninja-build pkg-config dpkg-dev
  zlib1g-dev libdeflate-dev libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth x11-utils xdotool imagemagick msitools wixl
  osslsigncode openssl
)

# The Windows programs link libdeflate statically, compiled by CMake from
# Debian's source package of the version below, fetched into .deps/.
deflate_version=$(<"$root/cmake/libdeflate.version")
deflate_dir=$root/.deps/libdeflate-$deflate_version

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ -f "$deflate_dir/libdeflate.h" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
updated=

# Sources from Debian's own archive, for this machine's release, signed by the
# keyring its binary entry already trusts.
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
if [ ! -f "$deflate_dir/libdeflate.h" ] &&
  ! apt-get indextargets --no-release-info --format '$(CREATED_BY) $(SITE) $(RELEASE)' 2>/dev/null |
    grep -x "Sources http://deb.debian.org/debian $suite" >/dev/null; then
  keyring=$(awk -v RS= '/URIs: http:\/\/deb\.debian\.org\/debian(\n|$)/' \
    /etc/apt/sources.list.d/debian.sources 2>/dev/null | sed -n 's/^Signed-By: *//p' | head -n1) || keyring=
  echo "install-deps: adding Debian's $suite source entry" >&2
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$suite" "${keyring:-/usr/share/keyrings/debian-archive-keyring.gpg}" |
    $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  updated=1
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f "$deflate_dir/libdeflate.h" ]; then
  echo "install-deps: fetching libdeflate $deflate_version source" >&2
  # An entry just added, or lists cleaned away since, has to be read first.
  if [ -z "$updated" ] &&
    ! apt-cache showsrc --only-source libdeflate 2>/dev/null | grep -x "Version: $deflate_version" >/dev/null; then
    $SUDO apt-get update -qq
  fi
  mkdir -p "$root/.deps"
  # Unpacked beside and moved in whole, so a fetch cut short is never taken for one.
  work=$(mktemp -d "$root/.deps/fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  if ! log=$(cd "$work" && apt-get source -qq "libdeflate=$deflate_version" 2>&1); then
    printf '%s\n' "$log" >&2
    echo "install-deps: cannot fetch Debian's source package libdeflate $deflate_version" >&2
    exit 1
  fi
  rm -rf "$deflate_dir"
  mv "$work"/libdeflate-*/ "$deflate_dir"
fi
