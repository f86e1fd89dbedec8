#!/usr/bin/env bash
# The main job: the whole road on this machine against the embedded Drive
# emulator. Installs what is missing, builds, starts the emulator and runs
# `lumo-host demo`: the plug-in loads like the editor loads it, shows its
# File menu entries, signs a user in through the consent page, opens a PDF
# two folders down through the Open command and its dialog, saves it under a
# new name in My Drive through the Save command, and lists My Drive.
# BUILD_DIR picks another build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/demo-emulator" lumo-host GoogleDrive
export DRIVE_EMULATOR_HOST=$address
wine "$build/host/lumo-host.exe" "Z:$build/plugin/GoogleDrive.lmp" demo </dev/null | tr -d '\r'
