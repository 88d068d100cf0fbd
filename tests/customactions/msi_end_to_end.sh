#!/usr/bin/env bash
# Runs MsiCheckForHigherVersions inside real installations under Wine's
# msiexec: two products of the line are installed into a fresh private
# prefix, then probe packages that carry Quorvis.dll ask about them.
# Wine reports a DLL that cannot load as a successful action, so each case
# is judged by the action's log lines and the final NEWERVERSIONINSTALLED.
# Usage: msi_end_to_end.sh QUORVIS_DLL SOURCE_DIR WORK_DIR
set -uo pipefail
dll=$1 sources=$2 work=$3

for tool in wixl wine timeout; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not found (run scripts/install-deps.sh)"; exit 1; }
done

rm -rf "$work" && mkdir -p "$work" || { echo "FAIL: cannot create $work"; exit 1; }
cp "$dll" "$work/Quorvis.dll" && cp "$sources/base.wxs" "$sources/probe.wxs" "$work/" || exit 1
cd "$work" || exit 1

export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if ! timeout --kill-after=10 180 wine wineboot -i >wineboot.out 2>&1; then
  echo "FAIL: wineboot did not finish (see $work/wineboot.out)"; exit 1
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# wixl takes relative source paths only, hence the copies in $work.
build_msi() { # NAME WXS PRODUCTCODE VERSION COMPONENTGUID
  timeout 120 wixl -a x64 -D ProductCode="$3" -D Version="$4" -D ComponentGuid="$5" -o "$1.msi" "$2" \
    >"$1.wixl.out" 2>&1 || { fail "wixl could not build $1.msi: $(cat "$1.wixl.out")"; return 1; }
}

# msiexec NAME [PROPERTY=value ...]; the log lands in NAME.log.
install() {
  local name=$1; shift
  timeout --kill-after=10 120 wine msiexec /i "$name.msi" /qn /l*v "$name.log" "$@" >"$name.out" 2>&1
  local status=$?
  [ $status -eq 124 ] && fail "$name: msiexec did not finish within 120 s"
  return $status
}

readonly OLDER={5C2A7E91-3B4D-4F60-A8C1-2D9E6B0F4A13}   # installed as 1.2
readonly NEWER={9E1F4C37-8A2B-4D5E-B6F0-7C3A1D9E2B58}   # installed as 1.10
readonly ABSENT={0D7B3E6A-4C1F-4B29-9E8D-5A2C7F1B3E64}  # never installed

build_msi older base.wxs "$OLDER" 1.2 "{3A9D2F60-7E1B-4C84-A5D3-6B2E9F0C1A77}" &&
  install older || fail "base product 1.2 did not install (see $work/older.log)"
build_msi newer base.wxs "$NEWER" 1.10 "{7F2C5B18-9D3E-4A61-B0C7-4E8A2D6F1B39}" &&
  install newer || fail "base product 1.10 did not install (see $work/newer.log)"

# The action's own lines, then the property as the installation ends it
# ("<absent>" when it is empty or was never set).
action_lines() { grep -a '^MsiCheckForHigherVersions: ' "$1.log" | tr -d '\r'; }
final_newer() {
  local line
  line=$(grep -a '^Property(S): NEWERVERSIONINSTALLED = ' "$1.log" | tail -n1 | tr -d '\r')
  [ -n "$line" ] && echo "${line#Property(S): NEWERVERSIONINSTALLED = }" || echo "<absent>"
}

probe_count=0
# probe NAME VERSION EXPECTED_PROPERTY EXPECTED_LINES [PROPERTY=value ...]
probe() {
  local name=$1 version=$2 want_property=$3 want_lines=$4; shift 4
  probe_count=$((probe_count + 1))
  local code component
  code=$(printf '{C0FFEE%02d-0000-4000-8000-000000000001}' "$probe_count")
  component=$(printf '{C0FFEE%02d-0000-4000-8000-000000000002}' "$probe_count")
  build_msi "$name" probe.wxs "$code" "$version" "$component" || return
  install "$name" "$@"
  local status=$?
  [ $status -eq 0 ] || fail "$name: msiexec exited with $status (see $work/$name.log)"

  local got_lines got_property
  got_lines=$(action_lines "$name")
  got_property=$(final_newer "$name")
  if [ "$got_lines" != "$want_lines" ]; then
    fail "$name: the log lines differ (see $work/$name.log)"
    diff <(echo "$want_lines") <(echo "$got_lines") | sed 's/^/    /'
  fi
  [ "$got_property" = "$want_property" ] ||
    fail "$name: NEWERVERSIONINSTALLED is '$got_property', expected '$want_property'"
  [ "$got_lines" = "$want_lines" ] && [ "$got_property" = "$want_property" ] && echo "ok: $name"
}

line() { echo "MsiCheckForHigherVersions: $1"; }
readonly SET="MsiCheckForHigherVersions: NEWERVERSIONINSTALLED=1"

probe equal-version 1.2 1 "$(line "NewestProductCode: $OLDER")
$(line "CurrentProductVersion: 1.2")
$(line "InstalledVersion: 1.2")
$SET" NEWESTPRODUCTCODE="$OLDER"

probe higher-installed 1.1.9 1 "$(line "NewestProductCode: $OLDER")
$(line "CurrentProductVersion: 1.1.9")
$(line "InstalledVersion: 1.2")
$SET" NEWESTPRODUCTCODE="$OLDER"

# The property held a value before: a lower version must clear it.
probe lower-installed 1.2.0.1 "<absent>" "$(line "NewestProductCode: $OLDER")
$(line "CurrentProductVersion: 1.2.0.1")
$(line "InstalledVersion: 1.2")" NEWESTPRODUCTCODE="$OLDER" NEWERVERSIONINSTALLED=earlier

probe numeric-components 1.9 1 "$(line "NewestProductCode: $NEWER")
$(line "CurrentProductVersion: 1.9")
$(line "InstalledVersion: 1.10")
$SET" NEWESTPRODUCTCODE="$NEWER"

# An empty value on msiexec's command line arrives mangled: leaving the
# property off gives the empty product code.
probe empty-product-code 1.0 earlier "$(line "NewestProductCode: ")
$(line "CurrentProductVersion: 1.0")" NEWERVERSIONINSTALLED=earlier

probe product-not-installed 1.0 earlier "$(line "NewestProductCode: $ABSENT")
$(line "CurrentProductVersion: 1.0")" NEWESTPRODUCTCODE="$ABSENT" NEWERVERSIONINSTALLED=earlier

if [ $failures -ne 0 ]; then
  echo "$failures failure(s); logs in $work"
  exit 1
fi
echo "all $probe_count installations behaved"
