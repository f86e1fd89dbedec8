#!/usr/bin/env bash
# Lists a Drive folder of 10,000 entries (BENCH_ENTRIES) through the Open/Save
# dialog's navigator and file list in the emulated host, sorts it by each
# column both ways, and prints the times, the ratio of the navigation to a
# bare enumeration of the same folder, and the peak working set.
# BUILD_DIR picks another build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
entries=${BENCH_ENTRIES:-10000}
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/bench-emulator" bench_file_list
gd_control POST /_emu/folders "{\"title\": \"Bench $entries\", \"count\": $entries}" >/dev/null
DRIVE_EMULATOR_HOST=$address wine "$build/bench/bench_file_list.exe" "Bench $entries" </dev/null \
  | tr -d '\r' >"$work/results"
gd_control POST /_emu/seed >/dev/null

/usr/bin/python3 - "$work/results" <<'PY'
import sys
rows, peak = {}, 0
for line in open(sys.argv[1]):
    parts = line.split()
    if parts and parts[0] == "RESULT":
        rows[parts[1]] = (int(parts[2]), float(parts[3]))
    elif parts and parts[0] == "PEAK":
        peak = int(parts[1])
    elif line.strip():
        sys.exit(line.strip())
for name, (count, seconds) in rows.items():
    print("%-28s %7d rows %9.3f s" % (name, count, seconds))
nav, bare = rows["navigate-to-completion"][1], rows["bare-enumeration"][1]
print("navigation / bare enumeration = %.2f" % (nav / bare))
print("peak working set %.1f MiB" % (peak / (1 << 20)))
PY
