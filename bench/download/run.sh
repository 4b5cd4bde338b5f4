#!/usr/bin/env bash
# Downloads a 1 GiB file from site-server over loopback, alternately with download_uri_to_tmp's
# engine (download_bench) and with the curl command line, and reports the throughput ratio
# (goal: at least 0.9 of curl's) and the peak resident memory (goal: at most 64 MiB).
# Usage: bench/download/run.sh [ROUNDS]   (default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-3}
size=$((1024 * 1024 * 1024))

cmake --preset default >/dev/null
cmake --build --preset default --target site-server download_bench >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/site" "$work/out"
head -c "$size" /dev/urandom >"$work/site/big.bin"

build/bin/site-server --root "$work/site" --port-file "$work/port" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
url="http://127.0.0.1:$(cat "$work/port")/big.bin"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
ours_total=0
curl_total=0
peak=0
for round in $(seq "$rounds"); do
  rm -f "$work/out/"*
  start=$(now)
  curl -s -f -o "$work/out/curl.bin" "$url"
  curl_seconds=$(calc "$(now) - $start")

  rm -f "$work/out/"*
  line=$(build/bin/download_bench "$url" "$work/out" ours.bin)
  ours_seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  rss=$(sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' <<<"$line")
  bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<<"$line")
  [ "$bytes" -eq "$size" ] || { echo "round $round: got $bytes bytes" >&2; exit 1; }

  printf 'round %d: curl %.2f s (%.0f MiB/s), download_uri_to_tmp %.2f s (%.0f MiB/s), peak RSS %d KiB\n' \
    "$round" "$curl_seconds" "$(calc "1024 / $curl_seconds")" \
    "$ours_seconds" "$(calc "1024 / $ours_seconds")" "$rss"
  ours_total=$(calc "$ours_total + $ours_seconds")
  curl_total=$(calc "$curl_total + $curl_seconds")
  [ "$rss" -gt "$peak" ] && peak=$rss
done

printf 'throughput ratio (ours / curl): %.3f (goal >= 0.9)\n' "$(calc "$curl_total / $ours_total")"
printf 'peak RSS: %.1f MiB (goal <= 64)\n' "$(calc "$peak / 1024")"
