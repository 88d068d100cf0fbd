#!/usr/bin/env bash
# Runs the wizard's end-to-end tests: a virtual display of their own, a Wine
# prefix of their own (the tests rewrite the settings key), and the
# screenshots the driver takes kept as PNG files beside it. Arguments after
# the first four go to the driver (a --gtest_filter picks the cases).
# With TESSAVO_SMALL_DRIVE=t: the prefix also gets a drive of 4 MiB (a tmpfs,
# as root); where it cannot be mounted the variable is cleared and the cases
# that need it skip.
set -u
driver=$1 tessavo=$2 nwq=$3 artifacts=$(realpath -m "$4")
shift 4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$artifacts"
mkdir -p "$artifacts"
export WINEPREFIX=${WINEPREFIX:-$(dirname "$artifacts")/e2e-wineprefix}
export TESSAVO_EXE=$tessavo NWQ_EXE=$nwq TESSAVO_ARTIFACTS=$artifacts

small_mount= small_link=
unmount_small_drive() {
  [ -n "$small_link" ] && rm -f "$small_link"
  # Lazily: the prefix's wineserver may still hold the drive for a moment.
  [ -n "$small_mount" ] && umount -l "$small_mount" && rmdir "$small_mount"
}
trap unmount_small_drive EXIT
if [ -n "${TESSAVO_SMALL_DRIVE:-}" ]; then
  letter=${TESSAVO_SMALL_DRIVE,,}
  mount_point=$(dirname "$artifacts")/small-drive
  mkdir -p "$mount_point"
  umount -l "$mount_point" 2>/dev/null  # left over from a run that was killed
  if mount -t tmpfs -o size=4m,mode=0777 tmpfs "$mount_point" 2>"$artifacts/mount.err"; then
    small_mount=$mount_point
    rm -f "$artifacts/mount.err"
    # The prefix must exist before a drive can be added to it. Its Wine
    # processes, started here without the tests' display, must be gone before
    # the driver starts: windows would otherwise open on a desktop no one sees.
    "$here/../../scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    small_link=$WINEPREFIX/dosdevices/$letter
    ln -sfn "$mount_point" "$small_link"
  else
    echo "no small drive: mounting a tmpfs was refused ($(cat "$artifacts/mount.err"))"
    export TESSAVO_SMALL_DRIVE=
  fi
fi

timeout --kill-after=10 600 xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/../../scripts/wine-run.sh" "$driver" --gtest_color=no "$@"
rc=$?
for shot in "$artifacts"/*.bmp; do
  [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
done
echo "screenshots: $artifacts"
exit $rc
