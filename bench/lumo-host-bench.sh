#!/usr/bin/env bash
# The plug-in's file system through lumo-host against the emulator, one run,
# at each emulated round trip of BENCH_LATENCIES (default "0 20" ms, the
# emulator's latency_ms):
#   get of a file of BENCH_BYTES (default 64 MiB) with --pattern seq and
#   --pattern pdf at 64 KiB reads, against curl fetching the whole file once;
#   put of a local file of BENCH_PUT_BYTES (default 256 MiB), against curl's
#   single PUT to an upload session.
# With BEFORE_BUILD (another build folder, e.g. of the previous commit) the
# same get runs through that build's lumo-host and plug-in as well, so that
# the gain shows. Prints seconds, MB/s, requests, requests per MiB,
# "transferred"/"read", peak memory and the ratios against curl. lumo-host's
# own start (loading the plug-in, signing in) is measured with a stat of the
# same file and taken off its times and request counts. BUILD_DIR picks
# another build folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bytes=${BENCH_BYTES:-67108864}
put_bytes=${BENCH_PUT_BYTES:-268435456}
latencies=${BENCH_LATENCIES:-0 20}
before=${BEFORE_BUILD:-}
chunk=65536
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/bench-lumo-host-emulator" lumo-host GoogleDrive
export DRIVE_EMULATOR_HOST=$address

# A reset empties the request log, re-seeds the files and ends the latency:
# the file to read is made again after each and the latency set again.
fresh_file() {
  gd_control POST /_emu/reset >/dev/null
  gd_control POST /_emu/config "{\"latency_ms\": $latency}" >/dev/null
  file=$(gd_control POST /_emu/files "{\"title\": \"bench.bin\", \"size\": $bytes}" | gd_member id)
  link="https://drive.google.com/open?id=$file"
}
gd_pattern_file "$work/pattern.bin" "$bytes"
gd_pattern_file "$work/put.bin" "$put_bytes"
: >"$work/results"

requests_logged() {
  gd_control GET /_emu/log | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["requests"]))'
}

# Runs one program under /usr/bin/time; sets seconds, requests (logged while
# it ran) and peak (maximum resident set, bytes) and leaves its output in
# $work/out.
measure() { # program args...
  local start end mark
  mark=$(requests_logged)
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$work/time" "$@" </dev/null | tr -d '\r' >"$work/out"
  end=$(date +%s.%N)
  seconds=$(awk "BEGIN {print $end - $start}")
  requests=$(($(requests_logged) - mark))
  peak=$(($(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time") * 1024))
}

lumo() { # build-dir args...
  local dir=$1
  shift
  measure wine "$dir/host/lumo-host.exe" "Z:$dir/plugin/GoogleDrive.lmp" "$@"
}

row() { # name amount seconds requests peak transferred
  echo "$latency $*" >>"$work/results"
}

for latency in $latencies; do
  builds=("after:$build")
  [ -n "$before" ] && builds+=("before:$before")
  for entry in "${builds[@]}"; do
    label=${entry%%:*} dir=${entry#*:}
    # lumo-host's start: loading, sign-in, one metadata request.
    fresh_file
    lumo "$dir" stat "$link"
    base_seconds=$seconds base_requests=$requests
    for pattern in seq pdf; do
      fresh_file
      lumo "$dir" get "$link" "Z:$work/get.bin" --pattern "$pattern" --chunk "$chunk"
      read_bytes=$(awk '/^read / {print $2}' "$work/out")
      moved=$(awk '/^transferred / {print $2}' "$work/out")
      cmp -s "$work/get.bin" "$work/pattern.bin" || { echo "get $pattern: wrong bytes" >&2; exit 1; }
      row "get-$pattern-$label" "$read_bytes" "$(awk "BEGIN {print $seconds - $base_seconds}")" \
        $((requests - base_requests)) "$peak" "$moved"
      rm -f "$work/get.bin"
    done
  done

  fresh_file
  token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
  measure curl -s --noproxy '*' -o "$work/get.bin" -H "Authorization: Bearer $token" \
    "http://$address/drive/v3/files/$file?alt=media"
  cmp -s "$work/get.bin" "$work/pattern.bin" || { echo "curl get: wrong bytes" >&2; exit 1; }
  row curl-get "$bytes" "$seconds" "$requests" "$peak" "$bytes"
  rm -f "$work/get.bin"

  fresh_file
  lumo "$build" stat "$link"
  base_seconds=$seconds base_requests=$requests
  fresh_file
  lumo "$build" put "Z:$work/put.bin" "gd://drive.google.com/googledriveidroot/bench-put.bin"
  put_id=$(sed -n 's/.*open?id=//p' "$work/out")
  [ "$(gd_control GET "/_emu/files/$put_id/content-sha256" | gd_member length)" = "$put_bytes" ]
  row put "$put_bytes" "$(awk "BEGIN {print $seconds - $base_seconds}")" \
    $((requests - base_requests)) "$peak" "$put_bytes"

  fresh_file
  target=$(gd_control POST /_emu/files '{"title": "put.bin", "size": 0}' | gd_member id)
  token=$(gd_control POST /_emu/tokens '{"issue": {}}' | gd_member access_token)
  session=$(gd_upload_session "$token" "$target" "$put_bytes")
  measure curl -s --noproxy '*' -o /dev/null -T "$work/put.bin" \
    -H "Authorization: Bearer $token" "http://$address$session"
  row curl-put "$put_bytes" "$seconds" "$requests" "$peak" "$put_bytes"
done

/usr/bin/python3 - "$work/results" "$bytes" "$put_bytes" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    latency, mode, amount, seconds, requests, peak, moved = line.split()
    rows[(int(latency), mode)] = (int(amount), float(seconds), int(requests), int(peak), int(moved))
mib = 1 << 20
print("get: %d MiB file, 64 KiB reads; put: %d MiB; lumo-host's start taken off its rows"
      % (int(sys.argv[2]) / mib, int(sys.argv[3]) / mib))
names = {"get-seq-after": "lumo-host get --pattern seq",
         "get-pdf-after": "lumo-host get --pattern pdf",
         "get-seq-before": "  the same, before",
         "get-pdf-before": "  the same --pattern pdf, before",
         "curl-get": "curl, whole file in one request",
         "put": "lumo-host put", "curl-put": "curl, one PUT to a session"}
for latency in sorted({key[0] for key in rows}):
    print()
    print("latency %d ms" % latency)
    print("%-34s %8s %8s %9s %9s %11s %9s" % ("", "seconds", "MB/s", "requests", "req/MiB",
                                            "transf/read", "peak MiB"))
    for mode, name in names.items():
        if (latency, mode) not in rows:
            continue
        amount, seconds, requests, peak, moved = rows[(latency, mode)]
        print("%-34s %8.2f %8.1f %9d %9.2f %11.3f %9.1f" % (
            name, seconds, amount / 1e6 / max(seconds, 1e-3), requests, requests / (amount / mib),
            moved / amount, peak / mib))
    time = lambda mode: max(rows[(latency, mode)][1], 1e-3)
    curl_get, curl_put = time("curl-get"), time("curl-put")
    scattered = 33 * latency / 1000.0
    checks = [("get --pattern seq / curl", time("get-seq-after") / curl_get, 1.5),
              ("get --pattern pdf / (2 x curl + 33 round trips)",
               time("get-pdf-after") / (2 * curl_get + scattered), 1.0),
              ("put / curl", time("put") / curl_put, 1.3)]
    for label, ratio, aim in checks:
        print("%-52s %6.2f (aim <= %.1f at 20 ms)" % (label, ratio, aim))
    for pattern in ("seq", "pdf"):
        if (latency, "get-%s-before" % pattern) in rows:
            print("%-52s %6.2f" % ("get --pattern %s, before / after" % pattern,
                                   time("get-%s-before" % pattern) / time("get-%s-after" % pattern)))
    peaks = [rows[key][3] for key in rows if key[0] == latency and not key[1].startswith("curl")]
    print("peak memory under 64 MiB for every lumo-host case: %s"
          % ("yes" if max(peaks) < 64 * mib else "no"))
PY
