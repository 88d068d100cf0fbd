#!/usr/bin/env bash
# Every test: native (g++), Windows x86_64 under Wine, Windows i686 (static
# checks only: 32-bit programs cannot run here), the sanitizer build, and the
# fuzzers' seed replays and short smoke runs.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

presets=(linux win64 win32 sanitize fuzz)
[ -n "${VARNHOLT_PRESETS:-}" ] && read -r -a presets <<<"$VARNHOLT_PRESETS"

passed=0 failed=0
for preset in "${presets[@]}"; do
  echo "== $preset"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "build of $preset failed"; failed=$((failed + 1)); continue
  fi
  log=build/$preset/ctest.log
  ctest --preset "$preset" 2>&1 | tee "$log"
  p=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -n1)
  if [ -n "$p" ]; then
    read -r f t <<<"$p"; passed=$((passed + t - f)); failed=$((failed + f))
  elif grep -q 'No tests were found' "$log"; then :
  else failed=$((failed + 1)); fi
done

echo
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
