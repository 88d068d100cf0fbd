#!/bin/sh
# Seeds as the packing tool makes them: small trees packed by `nwq create` at
# several compression levels. Usage: make_package_seeds.sh NWQ SEED_DIR
set -eu
nwq=$1 out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/empty" "$work/one" "$work/tree/maps/north" "$work/tree/maps/south" "$work/tree/docs"
printf 'Kartenblatt 1\n' >"$work/one/readme.txt"
printf 'north sheet\n' >"$work/tree/maps/north/tiles.txt"
head -c 3000 /dev/zero | tr '\0' 'x' >"$work/tree/maps/south/tiles.txt"
: >"$work/tree/docs/empty.txt"
printf 'index\n' >"$work/tree/index.txt"
for source in empty one tree; do
  for level in 0 6 9; do
    "$nwq" create "$work/FUZZ.nwq" "$work/$source" --level "$level" >/dev/null
    mv "$work/FUZZ.nwq" "$out/nwq-$source-level$level"
  done
done
