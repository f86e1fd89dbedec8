#!/usr/bin/env bash
# Reads one large body (256 MiB unless BENCH_BYTES says otherwise) from the
# Drive emulator four ways and prints MB/s, ratios and peak memory:
#   a  curl on the Linux side (the reference for Wine's overhead)
#   b  plain WinINet with 1 MiB InternetReadFile calls (the engine's reference)
#   c  HttpGetToStream (whole body in memory by design)
#   d  InetClient::ReadInto with 1 MiB buffers
# plus, for scale, the time to give a body that large fresh memory at all.
# Each way runs BENCH_RUNS times (default 3); the best rate and the highest
# peak count. BUILD_DIR picks another build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bytes=${BENCH_BYTES:-268435456}
runs=${BENCH_RUNS:-3}
source "$root/scripts/setup.sh"

gd_bench_start "$build" "$build/bench-emulator" bench_read
url="http://$address/_test/bytes/$bytes"

: >"$work/results"
for ((run = 0; run < runs; run++)); do
  # a: curl, timed by itself; peak memory from /usr/bin/time (kilobytes).
  /usr/bin/time -v -o "$work/curl.time" \
    curl -s --noproxy '*' -o /dev/null -w '%{time_total} %{size_download}\n' "$url" >"$work/curl.out"
  read -r curl_seconds curl_bytes <"$work/curl.out"
  curl_peak_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/curl.time")
  echo "RESULT curl $curl_bytes $curl_seconds 0 $((curl_peak_kb * 1024)) 0" >>"$work/results"

  # b, c, d: one process each, so that each peak is its own.
  for mode in reference oneshot readinto touch; do
    wine "$build/bench/bench_read.exe" "$mode" "$host" "$port" "$bytes" </dev/null \
      | tr -d '\r' | grep '^RESULT' >>"$work/results"
  done
done

/usr/bin/python3 - "$work/results" "$bytes" "$runs" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    _, mode, count, seconds, _, peak_ws, peak_pf = line.split()
    if int(count) != int(sys.argv[2]):
        sys.exit("%s read %s bytes, expected %s" % (mode, count, sys.argv[2]))
    rate = int(count) / 1e6 / float(seconds)
    best = rows.get(mode, (0, 0, 0))
    rows[mode] = (max(rate, best[0]), max(int(peak_ws), best[1]), max(int(peak_pf), best[2]))
names = {"curl": "a curl", "reference": "b WinINet 1 MiB reads",
         "oneshot": "c HttpGetToStream", "readinto": "d InetClient::ReadInto 1 MiB",
         "touch": "(fresh memory for the body)"}
mib = 1 << 20
print("%-30s %10s %16s %16s" % ("best of %s runs" % sys.argv[3], "MB/s", "peak WS MiB",
                                 "peak commit MiB"))
for mode in ("curl", "reference", "oneshot", "readinto", "touch"):
    rate, ws, pf = rows[mode]
    print("%-30s %10.1f %16.1f %16s" % (names[mode], rate, ws / mib,
                                         "%.1f" % (pf / mib) if pf else "-"))
a, b, c, d = (rows[m][0] for m in ("curl", "reference", "oneshot", "readinto"))
print("c/b = %.2f (aim >= 0.5)   d/b = %.2f (aim >= 0.8)   b/a = %.2f" % (c / b, d / b, b / a))
# Reading plus first-touching that much memory, back to back: what c can reach here.
floor = 1 / (1 / b + 1 / rows["touch"][0])
print("c against plain reads into fresh memory (%.1f MB/s): %.2f" % (floor, c / floor))
PY
