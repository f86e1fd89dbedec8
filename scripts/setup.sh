# Shared set-up for the project's scripts: packages and the Wine prefix.
# Sourced, not run.

GD_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

GD_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 wine rapidjson-dev googletest cmake ninja-build python3 python3-pyftpdlib openssl curl)

gd_install_packages() {
  local missing=()
  for p in "${GD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${GD_PACKAGES[@]}"
  fi
}

# Runs a Wine command with no inherited pipe: the wineserver daemon and Wine's
# services keep any pipe they start with open, which hangs whoever waits for
# it to close (CTest, a "| tee").
gd_wine_quiet() {
  "$@" </dev/null >/dev/null 2>&1 || true
}

# Starts the wineserver for the prefix inside the build folder, warms the
# prefix and starts Wine's services, so that no test process starts them with
# CTest's pipe. On exit gd_cleanup stops them and whatever else was started.
# The prefix's graphics driver is null, or the one given (x11 puts windows on
# $DISPLAY, in a prefix of its own).
gd_start_wine() { # build-dir [graphics-driver]
  local build graphics=${2:-null}
  build=$(cd "$1" && pwd)
  local prefix=$build/wineprefix
  [ "$graphics" = null ] || prefix=$build/wineprefix-$graphics
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  trap gd_cleanup EXIT
  gd_wine_quiet wineserver -p
  gd_wine_quiet wineboot -i
  if [ ! -f "$WINEPREFIX/.gd-$graphics-graphics" ]; then
    # Without a display, top-level windows need the null graphics driver;
    # the wineserver rereads it on restart.
    gd_wine_quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$graphics" /f
    gd_wine_quiet wineserver -k
    gd_wine_quiet wineserver -w
    gd_wine_quiet wineserver -p
    gd_wine_quiet wineboot -i
    touch "$WINEPREFIX/.gd-$graphics-graphics"
  fi
  # ShellExecuteW of an http URL runs winebrowser, which starts the first
  # program of this list: the browser sign-in's tests get the scripted one.
  local browser="$GD_ROOT/tools/test-browser/test_browser.py"
  if [ "$(cat "$WINEPREFIX/.gd-test-browser" 2>/dev/null)" != "$browser" ]; then
    gd_wine_quiet wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$browser" /f
    echo "$browser" >"$WINEPREFIX/.gd-test-browser"
  fi
}

# Installs what is missing, configures and builds into the given folder (only
# the given targets, when some are named), and warms Wine there.
gd_prepare() {
  local build=$1
  shift
  gd_install_packages
  cmake --preset default -B "$build" -S "$GD_ROOT" >/dev/null
  if (($#)); then
    cmake --build "$build" -j2 --target "$@"
  else
    cmake --build "$build" -j2
  fi
  gd_start_wine "$build"
}

# Starts the Drive emulator with its state in the given folder and sets
# GD_EMULATOR_ADDRESS (host:port of its HTTP listener). gd_stop_emulator ends it.
gd_start_emulator() {
  GD_EMULATOR_STATE_DIR=$1
  /usr/bin/python3 "$GD_ROOT/tools/drive-emulator/fixture.py" start --state "$1" </dev/null
  GD_EMULATOR_ADDRESS=$(cat "$1/http.addr")
}

gd_stop_emulator() {
  [ -n "${GD_EMULATOR_STATE_DIR:-}" ] || return 0
  /usr/bin/python3 "$GD_ROOT/tools/drive-emulator/fixture.py" stop \
    --state "$GD_EMULATOR_STATE_DIR" >/dev/null 2>&1 || true
}

# A benchmark's start: builds its targets, makes a work folder (GD_WORK_DIR)
# and starts the emulator; sets work, address, host and port.
gd_bench_start() { # build-dir emulator-state-dir target...
  local build=$1 state=$2
  shift 2
  gd_prepare "$build" "$@"
  GD_WORK_DIR=$(mktemp -d)
  work=$GD_WORK_DIR
  gd_start_emulator "$state"
  address=$GD_EMULATOR_ADDRESS
  host=${address%:*}
  port=${address#*:}
}

# The emulator's control interface (after gd_bench_start).
gd_control() { # method path [json]
  curl -s --noproxy '*' -X "$1" "http://$address$2" ${3:+-d "$3"}
}
# One member of the JSON object on standard input.
gd_member() { /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"; }

# A resumable upload session for a file of the given size: the path and
# query of its URL.
gd_upload_session() { # token file-id size
  curl -s --noproxy '*' -o /dev/null -D - -X PUT -H "Authorization: Bearer $1" \
    -H "Content-Length: 0" -H "X-Upload-Content-Length: $3" \
    "http://$address/upload/drive/v2/files/$2?uploadType=resumable" |
    tr -d '\r' | awk 'tolower($1) == "location:" {print $2}' | sed "s|^http://$address||"
}

# A local file of the emulator's pattern (byte i is i % 251), the bytes the
# benchmarks' writers send.
gd_pattern_file() { # path size
  /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
block = bytes(range(251)) * 4096
with open(sys.argv[1], "wb") as out:
    left = int(sys.argv[2])
    while left > 0:
        out.write(block[:left])
        left -= len(block)
PY
}

# Stops the emulator, removes GD_WORK_DIR and stops Wine: every script's exit.
gd_cleanup() {
  gd_stop_emulator
  if [ -n "${GD_WORK_DIR:-}" ]; then rm -rf "$GD_WORK_DIR"; fi
  wineserver -k >/dev/null 2>&1 || true
}
