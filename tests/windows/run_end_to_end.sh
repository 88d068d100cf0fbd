#!/usr/bin/env bash
# Runs the wizard's end-to-end test: a virtual display of its own, a Wine
# prefix of its own (the test rewrites the settings key), and the screenshots
# the driver takes kept as PNG files beside it.
set -u
driver=$1 tessavo=$2 artifacts=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$artifacts"
mkdir -p "$artifacts"
export WINEPREFIX=${WINEPREFIX:-$(dirname "$artifacts")/e2e-wineprefix}
export TESSAVO_EXE=$tessavo TESSAVO_ARTIFACTS=$artifacts
timeout --kill-after=10 600 xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/../../scripts/wine-run.sh" "$driver" --gtest_color=no
rc=$?
for shot in "$artifacts"/*.bmp; do
  [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
done
echo "screenshots: $artifacts"
exit $rc
