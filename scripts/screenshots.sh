#!/usr/bin/env bash
# Pictures of the plug-in's Open and Save dialogs, listing My Drive of the
# Drive emulator's first user, as docs/open-dialog.png and docs/save-dialog.png.
# Run on demand (not by the tests): installs what is missing, builds lumo-host
# and the plug-in, starts a virtual X screen and the emulator, and runs
# `lumo-host show open|save` under Wine's X11 driver, in a prefix of its own.
# BUILD_DIR picks another build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
source "$root/scripts/setup.sh"

GD_PACKAGES+=(xvfb x11-apps netpbm)
gd_install_packages
cmake --preset default -B "$build" -S "$root" >/dev/null
cmake --build "$build" -j2 --target lumo-host GoogleDrive

# A screen of its own: the first free display number from 90 on.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$display
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

gd_start_wine "$build" x11
trap 'gd_cleanup; kill "$xvfb" 2>/dev/null || true' EXIT
# No window manager runs on that screen: Wine draws the frames and captions.
gd_wine_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f
gd_start_emulator "$build/pictures-emulator"
export DRIVE_EMULATOR_HOST=$GD_EMULATOR_ADDRESS

work=$(mktemp -d)
GD_WORK_DIR=$work
mkdir -p "$root/docs"
for mode in open save; do
  mkfifo "$work/answer"
  wine "$build/host/lumo-host.exe" "Z:$build/plugin/GoogleDrive.lmp" show "$mode" \
    <"$work/answer" >"$work/out" 2>"$work/err" &
  host=$!
  exec 3>"$work/answer" # lumo-host waits for a line on it once the dialog shows
  shown=""
  for _ in $(seq 600); do
    shown=$(tr -d '\r' <"$work/out" | grep '^shown ' || true)
    [ -n "$shown" ] || ! kill -0 "$host" 2>/dev/null || { sleep 0.1; continue; }
    break
  done
  if [ -z "$shown" ]; then
    echo "the $mode dialog did not show:" >&2
    cat "$work/out" "$work/err" >&2
    exit 1
  fi
  read -r _ left top right bottom <<<"$shown"
  sleep 1 # the X server draws what Wine sent it
  xwd -root -silent | xwdtopnm 2>/dev/null |
    pnmcut -left "$left" -top "$top" -width $((right - left)) -height $((bottom - top)) |
    pnmtopng >"$root/docs/$mode-dialog.png"
  echo >&3
  exec 3>&-
  wait "$host"
  rm "$work/answer"
  echo "docs/$mode-dialog.png"
done
