#!/usr/bin/env bash
# The test run's fuzzing of one target: RUNS inputs from a fixed seed, starting
# from the given seeds and past findings, so that a commit passes or fails the
# same way each time (RUNS 0 only replays them). scripts/fuzz.sh is the long,
# random search. Usage: fuzz/smoke.sh FUZZER RUNS FINDINGS INPUT...
# An input folder that does not exist yet is skipped. With VARNHOLT_SMOKE_MUTATOR
# set to another target of the same input format, that target makes the
# inputs and FUZZER replays them: a target whose coverage depends on its
# threads' timing would otherwise pick other inputs on every run.
set -uo pipefail
fuzzer=${1:?usage: fuzz/smoke.sh FUZZER RUNS FINDINGS INPUT...} runs=${2:?} findings=${3:?}
shift 3
inputs=()
for input in "$@"; do
  [ -e "$input" ] && inputs+=("$input")
done

# What the run adds goes to a corpus folder of its own, thrown away after it:
# no run starts from another's additions. Scratch files go to a RAM disk.
scratch_parent=/dev/shm
[ -w "$scratch_parent" ] || scratch_parent=${TMPDIR:-/tmp}
work=$(mktemp -d "$scratch_parent/varnholt-smoke.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/tmp" "$findings" || exit 1

# Mutations guided by the values the code compared would differ from run to
# run: those values include addresses and times. Without them a target on one
# thread tries the same inputs every time.
mutator=${VARNHOLT_SMOKE_MUTATOR:-}
if [ -n "$mutator" ] && [ "$runs" -gt 0 ]; then
  TMPDIR=$work/tmp "$mutator" -seed=1 -runs="$runs" -use_cmp=0 -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
    "$work/corpus" "${inputs[@]}" >"$work/mutator.log" 2>&1 || { cat "$work/mutator.log"; exit 1; }
  echo "smoke: $(find "$work/corpus" -type f | wc -l) inputs made by $(basename "$mutator")"
  runs=0
fi
TMPDIR=$work/tmp "$fuzzer" -seed=1 -runs="$runs" -use_cmp=0 -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$work/corpus" "${inputs[@]}"
