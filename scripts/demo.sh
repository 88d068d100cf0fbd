#!/usr/bin/env bash
# The main job: builds everything, makes a demo setup medium from generated
# map data, and installs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

for preset in linux win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 >/dev/null
done

demo=build/demo
nwq=build/linux/tools/nwq
rm -rf "$demo"
mkdir -p "$demo/source" "$demo/medium/Karten"

# name|title|kind|MiB
packages=(
  "Nordkueste|Nordküste Topographie 1:50 000|tiles|6"
  "Hoehenmodell|Höhenmodell DGM 25|elevation|8"
  "Luftbild|Luftbild Übersicht|imagery|5"
  "Strassennetz|Straßennetz Niedersachsen|roads|6"
)
for entry in "${packages[@]}"; do
  IFS='|' read -r name title kind mib <<<"$entry"
  build/linux/tools/make-sample-maps "$kind" "$demo/source/$name" "$mib" >/dev/null
  "$nwq" create "$demo/medium/Karten/$name.nwq" "$demo/source/$name" --title "$title" \
    --description "Beispieldaten ($kind)"
done
cp build/win64/tools/nwq.exe "$demo/medium/"
"$nwq" verify "$demo"/medium/Karten/*.nwq

echo
echo "Demo medium: $demo/medium"
"$nwq" list "$demo/medium/Karten"

# Install every package of the medium, as the wizard would with all ticked.
target=$demo/installed
for package in "$demo"/medium/Karten/*.nwq; do
  "$nwq" extract "$package" "$target" >/dev/null
done
echo
echo "Installed into $target:"
(cd "$target" && find . -type f -printf '%10s  %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k4)
