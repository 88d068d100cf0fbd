#!/usr/bin/env bash
# Runs the wizard's end-to-end tests: a virtual display of their own, a Wine
# prefix of their own (the tests rewrite the settings key), and the
# screenshots the driver takes kept as PNG files beside it. Arguments after
# the first four go to the driver (a --gtest_filter picks the cases).
set -u
driver=$1 tessavo=$2 nwq=$3 artifacts=$(realpath -m "$4")
shift 4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$artifacts"
mkdir -p "$artifacts"
export WINEPREFIX=${WINEPREFIX:-$(dirname "$artifacts")/e2e-wineprefix}
export TESSAVO_EXE=$tessavo NWQ_EXE=$nwq TESSAVO_ARTIFACTS=$artifacts
timeout --kill-after=10 600 xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/../../scripts/wine-run.sh" "$driver" --gtest_color=no "$@"
rc=$?
for shot in "$artifacts"/*.bmp; do
  [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
done
echo "screenshots: $artifacts"
exit $rc
