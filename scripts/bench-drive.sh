#!/usr/bin/env bash
# Drive request kinds against the emulator (BENCH_BYTES, default 256 MiB):
#   DriveRangeReader reads of 64 KiB and 1 MiB, with the token as it is and
#   through a signed-in account (a token check before every request), against
#   plain WinINet asking the same ranges on one kept connection; a streamed
#   upload against curl PUT and a plain WinINet HttpSendRequestEx upload to a
#   session of the same size; and a listing of 10,000 entries. Each runs BENCH_RUNS times (default 3); the best rate
#   and the highest peak count. BUILD_DIR picks another build folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bytes=${BENCH_BYTES:-268435456}
runs=${BENCH_RUNS:-3}
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/bench-drive-emulator" bench_drive
export DRIVE_EMULATOR_HOST=$address

token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
file=$(gd_control POST /_emu/files "{\"title\": \"bench.bin\", \"size\": $bytes}" | gd_member id)
folder=$(gd_control POST /_emu/folders '{"title": "Many", "count": 10000}' | gd_member id)

session() { gd_upload_session "$token" "$1" "$bytes"; }

# The content curl sends: the same pattern the plug-in's writer sends.
gd_pattern_file "$work/pattern.bin" "$bytes"

curl_put() { # file id
  local url="http://$address$(session "$1")"
  /usr/bin/time -v -o "$work/curl.time" curl -s --noproxy '*' -o /dev/null -w '%{time_total}\n' \
    -X PUT -H "Authorization: Bearer $token" -H "Content-Type: application/octet-stream" \
    -T "$work/pattern.bin" "$url" >"$work/curl.out"
  local peak_kb
  peak_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/curl.time")
  echo "RESULT curl-put $bytes $(cat "$work/curl.out") 1 $((peak_kb * 1024))" >>"$work/results"
}

run() { # mode chunk id size
  wine "$build/bench/bench_drive.exe" "$1" "$2" "$host" "$port" "$token" "$3" "$4" </dev/null \
    | tr -d '\r' | grep '^RESULT' | sed "s/^RESULT $1 /RESULT $1-$2 /" >>"$work/results"
}

: >"$work/results"
for ((n = 0; n < runs; n++)); do
  for chunk in 65536 1048576; do
    run range "$chunk" "$file" "$bytes"
    run account "$chunk" "$file" "$bytes"
    run reference "$chunk" "$file" "$bytes"
  done
  gd_control POST /_emu/reset >/dev/null # drops the request log the reads filled
  token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
  file=$(gd_control POST /_emu/files "{\"title\": \"bench.bin\", \"size\": $bytes}" | gd_member id)
  folder=$(gd_control POST /_emu/folders '{"title": "Many", "count": 10000}' | gd_member id)
  run upload 1048576 "$file" "$bytes"
  [ "$(gd_control GET "/_emu/files/$file/content-sha256" | gd_member length)" = "$bytes" ]
  run put 1048576 "$(session "$file")" "$bytes"
  curl_put "$file"
  [ "$(gd_control GET "/_emu/files/$file/content-sha256" | gd_member length)" = "$bytes" ]
  run list 0 "$folder" 0
done

/usr/bin/python3 - "$work/results" "$bytes" "$runs" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    _, mode, amount, seconds, requests, peak = line.split()
    best = rows.get(mode, (0.0, 1e9, 0, 0, 0))
    rate = int(amount) / 1e6 / float(seconds)
    rows[mode] = (max(rate, best[0]), min(float(seconds), best[1]), int(requests),
                  int(amount), max(int(peak), best[4]))
size_mib = int(sys.argv[2]) / (1 << 20)
print("best of %s runs, %d MiB" % (sys.argv[3], size_mib))
print("%-34s %10s %14s %14s" % ("", "MB/s", "requests/MiB", "peak WS MiB"))
names = {"range-65536": "DriveRangeReader 64 KiB reads", "account-65536": "  the same, token checked",
         "reference-65536": "WinINet same ranges 64 KiB",
         "range-1048576": "DriveRangeReader 1 MiB reads", "account-1048576": "  the same, token checked",
         "reference-1048576": "WinINet same ranges 1 MiB",
         "upload-1048576": "DriveUploadWriter 1 MiB writes", "put-1048576": "WinINet SendRequestEx 1 MiB",
         "curl-put": "curl PUT"}
for mode, name in names.items():
    if mode in rows:
        rate, _, requests, amount, peak = rows[mode]
        print("%-34s %10.1f %14.2f %14.1f" % (name, rate, requests / (amount / (1 << 20)), peak / (1 << 20)))
for chunk in ("65536", "1048576"):
    r, a, b = (rows.get(m + "-" + chunk) for m in ("range", "account", "reference"))
    if r and b:
        print("range/reference at %s bytes: %.2f (aim >= 0.8)" % (chunk, r[0] / b[0]))
    if a and b:
        print("  with the token check: %.2f" % (a[0] / b[0]))
u, p, c = rows.get("upload-1048576"), rows.get("put-1048576"), rows.get("curl-put")
if u and p and c:
    print("upload/WinINet reference: %.2f, upload/curl PUT: %.2f" % (u[0] / p[0], u[0] / c[0]))
if "list-0" in rows:
    _, seconds, requests, amount, peak = rows["list-0"]
    print("listing %d entries: %.2f s in %d pages, peak WS %.1f MiB" % (amount, seconds, requests, peak / (1 << 20)))
PY
