#!/usr/bin/env bash
# The packaged start with aggressive updates (the update check runs before the application
# starts): the time from pellora's start to the application's, against a dead site, compared with
# the same start against a healthy one. The update check has a budget of 5 s in all; the goal is
# that no dead site holds the start longer than that plus the healthy start.
#
# The site is signed and the installer carries the key, as a vendor would ship them. Dead sites:
#   stall        metadata.properties answers with headers, then silence
#   drip         metadata.properties arrives at one byte every 500 ms
#   no connect   the port accepts no handshake (a connect that stalls)
#   refused      nothing listens on the port
# Usage: bench/stalled_start/run.sh [ROUNDS]   (default 3 per dead site, 15 healthy)
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-3}

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target pellora burn make-site site-server start_app_probe \
  start_app_bench >/dev/null

work=$(mktemp -d)
server_pid=
blackhole_pid=
stop_server() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  server_pid=
}
cleanup() {
  stop_server
  if [ -n "$blackhole_pid" ]; then kill "$blackhole_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export TREVALON_PLATFORM_ROOT="$work/root"
export TMPDIR="$work/tmp"
mkdir -p "$TREVALON_PLATFORM_ROOT/trust" "$TMPDIR" "$work/site" "$work/stamps"

name=Trevalon.StalledBench
publisher="CN=Trevalon Bench, O=Quelmarin Labs, C=FR"
version=1.0.0.0
full_name=$(build/bin/start_app_bench full-name "$name" "$version" arm64 "$publisher")
openssl ecparam -name prime256v1 -genkey -noout -out "$work/key.pem" 2>/dev/null
openssl ec -in "$work/key.pem" -pubout -out "$work/key.pub.pem" 2>/dev/null

start_server() { # [FAULT]
  : >"$work/faults"
  if [ -n "${1:-}" ]; then echo "/metadata.properties $1" >"$work/faults"; fi
  rm -f "$work/port.new"
  build/bin/site-server --root "$work/site" --port "${port:-0}" --port-file "$work/port.new" \
    --faults "$work/faults" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$work/port.new" ] && break; sleep 0.05; done
  port=$(cat "$work/port.new")
}
start_server
base_url="http://127.0.0.1:$port/"

build/bin/burn installer build/bin/pellora "$work/updatecheck.exe" \
  --site-base-url "$base_url" --appinstaller "$name.appinstaller" \
  --launch-uri trevalon-stalled-bench: --package-full-name "$full_name" --app-exe App.exe \
  --aggressive-updates --update-key "$work/key.pub.pem" >/dev/null
build/bin/make-site --out "$work/site" --base-url "$base_url" --name "$name" \
  --publisher "$publisher" --version "$version" --certificate site.cer \
  --executable updatecheck.exe --file "$work/updatecheck.exe=updatecheck.exe" \
  --file "build/bin/start_app_probe=App.exe" --signing-key "$work/key.pem" >/dev/null
cp "$work/site/site.cer" "$TREVALON_PLATFORM_ROOT/trust/"
build/bin/start_app_bench install "$base_url$name.appinstaller"
program="$TREVALON_PLATFORM_ROOT/packages/$full_name/updatecheck.exe"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
measure() { # ROUNDS -> median in ms
  build/bin/start_app_bench start "$program" "$work/stamps" "$1" | awk '{ print $1 / 1000 }' | median
}

healthy=$(measure $((rounds * 5)))
echo "healthy site: median $healthy ms"
rows=()
row() { # WHAT MEDIAN_MS
  rows+=("$(awk -v w="$1" -v o="$2" -v h="$healthy" 'BEGIN {
    printf "ROW | packaged start to app start, %s vs healthy site | %.0f ms | %.1f ms | %.0f | <= 5000 ms + healthy | %s |", \
      w, o, h, o / h, (o <= 5000 + h ? "pass" : "falls short") }')")
  echo "$1: median $2 ms"
}

stop_server
start_server stall
row "metadata stalls" "$(measure "$rounds")"
stop_server
start_server drip:1:500
row "metadata drips (1 byte / 500 ms)" "$(measure "$rounds")"
stop_server
row "connection refused" "$(measure "$rounds")"
python3 bench/stalled_start/blackhole.py "$port" "$work/blackhole" &
for _ in $(seq 100); do [ -s "$work/blackhole" ] && break; sleep 0.05; done
blackhole_pid=$(cat "$work/blackhole")
row "connect never answered" "$(measure "$rounds")"

echo "rounds: $((rounds * 5)) healthy, $rounds per dead site"
printf '%s\n' "${rows[@]}"
