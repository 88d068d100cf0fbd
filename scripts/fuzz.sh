#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, one after the other, and prints the
# executions and findings per target. Usage: scripts/fuzz.sh SECONDS [TARGET...]
# Builds the fuzz preset first if needed. Each target's corpus grows in
# build/fuzz/corpus/TARGET across runs; findings (crash-*, leak-*, timeout-*,
# oom-*) land in build/fuzz/findings/TARGET. Exit status 1 if anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build=${VARNHOLT_FUZZ_BUILD:-build/fuzz}
if [ ! -f "$build/fuzz/fuzzers.txt" ]; then
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 || exit 1
fi

# The targets write their scratch files here; a RAM disk spares the real one.
scratch_parent=/dev/shm
[ -w "$scratch_parent" ] || scratch_parent=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$scratch_parent/varnholt-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

artifacts() { find "$1" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l; }

found_any=0
printf '%-18s %8s %12s %9s\n' target seconds executions findings
while IFS=: read -r target seeds; do
  [ -n "$target" ] || continue
  if [ $# -gt 0 ] && [[ " $* " != *" $target "* ]]; then continue; fi
  corpus=$build/fuzz/corpus/$target findings=$build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus" "$build/fuzz/seeds/$seeds")
  [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
  before=$(artifacts "$findings")
  log=$findings/last-run.log
  TMPDIR=$scratch timeout -k 10 $((seconds + 120)) "$build/fuzz/$target" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1
  status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  found=$(( $(artifacts "$findings") - before ))
  [ "$status" -ne 0 ] && [ "$found" -eq 0 ] && found=1
  printf '%-18s %8s %12s %9s\n' "$target" "$seconds" "${executions:-?}" "$found"
  if [ "$found" -ne 0 ]; then
    found_any=1
    echo "-- $target: see $log"
    grep -E 'ERROR|SUMMARY|==[0-9]+==' "$log" | head -n 20
  fi
  rm -rf "${scratch:?}"/*
done <"$build/fuzz/fuzzers.txt"
exit "$found_any"
