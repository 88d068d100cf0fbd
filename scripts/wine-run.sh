#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests: a private prefix per build
# folder (booted once, under a lock, so parallel tests don't race), no Mono or
# Gecko prompts, quiet stderr, and a timeout, since a hung Wine never ends.
set -u
exe=$1; shift
build_dir=${VARNHOLT_WINE_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.booted" ]; then
    timeout 180 wine wineboot -i >/dev/null 2>&1 && touch "$WINEPREFIX/.booted"
  fi
) 9>"$WINEPREFIX.lock"
exec timeout --kill-after=10 "${VARNHOLT_WINE_TIMEOUT:-300}" wine "$exe" "$@"
