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
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ours=()
theirs=()
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
  ours+=("$ours_seconds")
  theirs+=("$curl_seconds")
  [ "$rss" -gt "$peak" ] && peak=$rss
done

ours_median=$(printf '%s\n' "${ours[@]}" | median)
curl_median=$(printf '%s\n' "${theirs[@]}" | median)
ratio=$(calc "$curl_median / $ours_median")
peak_mib=$(calc "$peak / 1024")
printf 'throughput ratio (ours / curl, medians): %.3f (goal >= 0.9)\n' "$ratio"
printf 'peak RSS: %.1f MiB (goal <= 64)\n' "$peak_mib"
result=$(awk "BEGIN { print ($ratio >= 0.9 && $peak_mib <= 64) ? \"pass\" : \"falls short\" }")
printf "ROW | download_uri_to_tmp vs curl, 1 GiB over loopback (throughput; peak RSS %.1f MiB) | %.2f s | %.2f s | %.3f | >= 0.9, <= 64 MiB | %s |\n" \
  "$peak_mib" "$ours_median" "$curl_median" "$ratio" "$result"
