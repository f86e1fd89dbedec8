#!/usr/bin/env bash
# The plug-in's file system through lumo-host against the emulator, one run,
# for one file of BENCH_BYTES (default 64 MiB):
#   get --pattern seq and --pattern pdf at 64 KiB reads, against plain WinINet
#   reading the whole file in one request (bench_drive whole);
#   put of a local file of that size, against a plain WinINet upload to a
#   session (bench_drive put).
# Prints MB/s, requests, "transferred"/"read", peak memory and the requests
# the host's reads cost per MiB. lumo-host's own start (loading the plug-in,
# signing in) is measured with a stat of the same file and taken off its
# times and request counts. BUILD_DIR picks another build folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bytes=${BENCH_BYTES:-67108864}
chunk=65536
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/bench-lumo-host-emulator" lumo-host GoogleDrive bench_drive
export DRIVE_EMULATOR_HOST=$address
plugin="Z:$build/plugin/GoogleDrive.lmp"

# A reset empties the request log and re-seeds the files: the file to read
# is made again after each.
fresh_file() {
  gd_control POST /_emu/reset >/dev/null
  file=$(gd_control POST /_emu/files "{\"title\": \"bench.bin\", \"size\": $bytes}" | gd_member id)
  link="https://drive.google.com/open?id=$file"
}
gd_pattern_file "$work/pattern.bin" "$bytes"
: >"$work/results"

requests_logged() {
  gd_control GET /_emu/log | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["requests"]))'
}

# Runs one Windows program under /usr/bin/time after fresh_file; sets
# seconds, requests and peak (maximum resident set, bytes) and leaves its
# output in $work/out.
measure() { # program args...
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$work/time" wine "$@" </dev/null | tr -d '\r' >"$work/out"
  end=$(date +%s.%N)
  seconds=$(awk "BEGIN {print $end - $start}")
  requests=$(requests_logged)
  peak=$(($(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time") * 1024))
}

lumo() { measure "$build/host/lumo-host.exe" "$plugin" "$@"; }

# lumo-host's start: loading, sign-in, one metadata request.
fresh_file
lumo stat "$link"
base_seconds=$seconds base_requests=$requests

for pattern in seq pdf; do
  fresh_file
  lumo get "$link" "Z:$work/get-$pattern.bin" --pattern "$pattern" --chunk "$chunk"
  read_bytes=$(awk '/^read / {print $2}' "$work/out")
  moved=$(awk '/^transferred / {print $2}' "$work/out")
  cmp -s "$work/get-$pattern.bin" "$work/pattern.bin" || { echo "get $pattern: wrong bytes" >&2; exit 1; }
  echo "host-$pattern $read_bytes $(awk "BEGIN {print $seconds - $base_seconds}") $((requests - base_requests)) $peak $moved" >>"$work/results"
  rm -f "$work/get-$pattern.bin"
done

fresh_file
token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
measure "$build/bench/bench_drive.exe" whole "$chunk" "$host" "$port" "$token" "$file" "$bytes"
read -r _ _ amount inside _ _ <"$work/out"
echo "whole $amount $inside 1 $peak $amount" >>"$work/results"

fresh_file
lumo put "Z:$work/pattern.bin" "gd://drive.google.com/googledriveidroot/bench-put.bin"
put_id=$(sed -n 's/.*open?id=//p' "$work/out")
[ "$(gd_control GET "/_emu/files/$put_id/content-sha256" | gd_member length)" = "$bytes" ]
echo "host-put $bytes $(awk "BEGIN {print $seconds - $base_seconds}") $((requests - base_requests)) $peak $bytes" >>"$work/results"

fresh_file
target=$(gd_control POST /_emu/files '{"title": "put.bin", "size": 0}' | gd_member id)
token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
session=$(gd_upload_session "$token" "$target" "$bytes")
measure "$build/bench/bench_drive.exe" put 1048576 "$host" "$port" "$token" "$session" "$bytes"
read -r _ _ amount inside _ _ <"$work/out"
echo "put $amount $inside 1 $peak $amount" >>"$work/results"

/usr/bin/python3 - "$work/results" "$bytes" "$base_seconds" "$base_requests" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    mode, amount, seconds, requests, peak, moved = line.split()
    rows[mode] = (int(amount), float(seconds), int(requests), int(peak), int(moved))
mib = 1 << 20
print("%d MiB file, 64 KiB reads; lumo-host's start (%.2f s, %s requests) taken off its rows"
      % (int(sys.argv[2]) / mib, float(sys.argv[3]), sys.argv[4]))
print("%-36s %8s %9s %9s %11s %9s" % ("", "MB/s", "requests", "req/MiB", "transf/read", "peak MiB"))
names = {"host-seq": "lumo-host get --pattern seq", "host-pdf": "lumo-host get --pattern pdf",
         "whole": "WinINet, whole file in one request", "host-put": "lumo-host put",
         "put": "WinINet upload to a session"}
for mode, name in names.items():
    amount, seconds, requests, peak, moved = rows[mode]
    print("%-36s %8.1f %9d %9.2f %11.3f %9.1f" % (name, amount / 1e6 / max(seconds, 1e-3), requests,
                                                  requests / (amount / mib), moved / amount, peak / mib))
rate = lambda mode: rows[mode][0] / max(rows[mode][1], 1e-3)
for mode in ("host-seq", "host-pdf"):
    print("%s/WinINet: %.2f" % (names[mode], rate(mode) / rate("whole")))
print("lumo-host put/WinINet: %.2f" % (rate("host-put") / rate("put")))
pdf = rows["host-pdf"]
print("pdf pattern transferred/read: %.3f (aim <= 1.1)" % (pdf[4] / pdf[0]))
print("peak memory under 64 MiB: get %s, put %s" % (
    "yes" if max(rows["host-seq"][3], rows["host-pdf"][3]) < 64 * mib else "no",
    "yes" if rows["host-put"][3] < 64 * mib else "no"))
PY
