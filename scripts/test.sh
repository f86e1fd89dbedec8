#!/usr/bin/env bash
# Installs what is missing, configures, builds, and runs every test under Wine.
#   scripts/test.sh [ctest arguments...]      e.g. scripts/test.sh -R http
# BUILD_DIR picks another build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
source "$root/scripts/setup.sh"

gd_prepare "$build"
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
