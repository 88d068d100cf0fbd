#!/usr/bin/env bash
# The main job: builds everything, makes a demo setup medium from generated
# map data, and installs it.
# Usage: scripts/demo.sh [--sign]
#   --sign  signs the medium's programs with a throwaway certificate made for
#           the demo, and shows the signer each one verifies against.
set -euo pipefail
cd "$(dirname "$0")/.."
sign=
case "${1:-}" in
  "") ;;
  --sign) sign=1 ;;
  *) echo "usage: scripts/demo.sh [--sign]" >&2; exit 2 ;;
esac
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
cp build/win64/tools/nwq.exe build/win64/app/Tessavo.exe "$demo/medium/"
"$nwq" verify "$demo"/medium/Karten/*.nwq

# verify_signature FILE: the signer osslsigncode found, checked against the
# demo's root.
verify_signature() {
  local report
  if report=$(osslsigncode verify -CAfile "$demo/certificate/root.pem" -in "$1" 2>&1); then
    echo "  $(basename "$1"): signed by $(echo "$report" | sed -n 's/^\s*Subject: //p' | head -n 1), verified"
  else
    echo "  $(basename "$1"): the signature does not verify"
    return 1
  fi
}
if [ -n "$sign" ]; then
  echo
  echo "Signing the medium's programs with a throwaway certificate ($demo/certificate):"
  bash scripts/make-test-certificate.sh "$demo/certificate" "/O=Varnholt/CN=Varnholt Demo Signer"
  VARNHOLT_SIGN_PFX=$demo/certificate/signer.pfx VARNHOLT_SIGN_PASSWORD_FILE=$demo/certificate/password.txt \
    bash scripts/sign.sh "$demo/medium/Tessavo.exe" "$demo/medium/nwq.exe" >/dev/null
  verify_signature "$demo/medium/Tessavo.exe"
  verify_signature "$demo/medium/nwq.exe"
fi

echo
echo "Demo medium: $demo/medium"
"$nwq" list "$demo/medium/Karten"

# Install the medium through the real wizard, in a Wine prefix of the demo's
# own. On a display the wizard is the user's; without one it runs on a virtual
# display and is walked through every page, with a screenshot of each.
export WINEPREFIX=$PWD/$demo/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
# The prefix boots on the display the wizard will use: a desktop started
# without one would leave the wizard no window to open.
boot_prefix() { timeout 300 wine wineboot -i >/dev/null 2>&1; }
wine_path() { echo "Z:$(realpath "$1" | tr / '\\')"; }
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo
  echo "The wizard is open: choose the packages and the destination, then Finish."
  boot_prefix
  timeout 3600 wine "$demo/medium/Tessavo.exe" >/dev/null 2>&1 || true
else
  echo
  echo "No display: the wizard runs on a virtual one and is walked through its pages."
  mkdir -p "$demo/screenshots"
  timeout 900 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    timeout 300 wine wineboot -i >/dev/null 2>&1
    wine build/win64/tests/windows/tessavo_demo_driver.exe "$1" "$2" 2>/dev/null' demo \
    "$(wine_path "$demo/medium/Tessavo.exe")" "$(wine_path "$demo/screenshots")" | grep -a '^demo:' || true
  for shot in "$demo"/screenshots/*.bmp; do
    convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
  echo "Screenshots of every page: $demo/screenshots"
fi

echo
geopath=$(timeout 60 wine reg query 'HKLM\Software\Varnholt\Settings' /v GeoPath 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *GeoPath *REG_SZ *//p')
echo "GeoPath (read back from Wine's registry): ${geopath:-(not written)}"
if [ -n "$geopath" ]; then
  # C:\... lies in the prefix's drive_c; Z:\... is the Unix root.
  case "$geopath" in
    [Cc]:*) target="$WINEPREFIX/drive_c$(echo "${geopath:2}" | tr '\\' /)" ;;
    [Zz]:*) target="$(echo "${geopath:2}" | tr '\\' /)" ;;
    *) target="" ;;
  esac
  if [ -n "$target" ] && [ -d "$target" ]; then
    echo "Installed into $target:"
    (cd "$target" && find . -type f -printf '%10s  %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k4)
  fi
fi

if [ -n "$sign" ]; then
  echo
  echo "The setup's own copy, kept for the removal:"
  verify_signature "$WINEPREFIX/drive_c/Program Files/Varnholt/Setup/Tessavo.exe" || true
fi
