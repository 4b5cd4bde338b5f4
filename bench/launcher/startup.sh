#!/usr/bin/env bash
# Start-up time of a hello-world main through `launcher` against `java -cp` on the same jars.
# Runs interleaved (the order alternates every round) after a warm-up, and prints the medians
# and their ratio. Goal: launcher at most 1.02 times java's median.
#
#   bench/launcher/startup.sh [ROUNDS]      (default 40; needs a built tree in build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-40}
build=${BUILD_DIR:-build}
java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
java="$java_home/bin/java"
for needed in "$build/bin/launcher" "$build/bin/burn" "$build/jars/trevalon-launcher-test.jar" \
  "$build/jars/trevalon-launcher.jar" "$java"; do
  [ -e "$needed" ] || { echo "missing $needed: build first (cmake --build --preset default)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app/bin" "$work/app/app" "$work/platform"
cp "$build/jars/trevalon-launcher-test.jar" "$build/jars/trevalon-launcher.jar" "$work/app/app/"
"$build/bin/burn" launcher "$build/bin/launcher" "$work/app/bin/launcher" \
  --main-class quelmarin.trevalon.launchertest.Hello \
  --jvm-option '-Djava.class.path=&&trevalon-launcher-test.jar:&&trevalon-launcher.jar'
class_path="$work/app/app/trevalon-launcher-test.jar:$work/app/app/trevalon-launcher.jar"
export TREVALON_PLATFORM_ROOT="$work/platform"

run_launcher() { "$work/app/bin/launcher" >/dev/null 2>&1; }
run_java() { "$java" -cp "$class_path" quelmarin.trevalon.launchertest.Hello >/dev/null 2>&1; }

# One line per run of "$1": wall, user and system seconds.
time_one() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$1"; } 2>&1
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

"$work/app/bin/launcher" 2>/dev/null | grep -q "Hello, world" || { echo "the burned launcher does not run" >&2; exit 1; }
for _ in 1 2 3; do run_launcher; run_java; done

: >"$work/launcher.times"
: >"$work/java.times"
for ((round = 0; round < rounds; round++)); do
  if ((round % 2 == 0)); then
    time_one run_launcher >>"$work/launcher.times"
    time_one run_java >>"$work/java.times"
  else
    time_one run_java >>"$work/java.times"
    time_one run_launcher >>"$work/launcher.times"
  fi
done

# Wall time is what the goal is about; CPU time (user + system) is steadier on a busy machine.
wall() { awk '{ print $1 }' "$1" | median; }
cpu() { awk '{ print $2 + $3 }' "$1" | median; }
awk -v lw="$(wall "$work/launcher.times")" -v jw="$(wall "$work/java.times")" \
  -v lc="$(cpu "$work/launcher.times")" -v jc="$(cpu "$work/java.times")" -v n="$rounds" 'BEGIN {
  printf "rounds: %d (interleaved)\n", n
  printf "wall median: launcher %.1f ms, java -cp %.1f ms\n", lw * 1e3, jw * 1e3
  printf "cpu median:  launcher %.1f ms, java -cp %.1f ms\n", lc * 1e3, jc * 1e3
  ratio = lw / jw
  printf "wall ratio: %.3f (goal <= 1.02): %s\n", ratio, (ratio <= 1.02 ? "met" : "NOT met")
  printf "cpu ratio:  %.3f\n", lc / jc
}'

# The row for scripts/bench's table.
awk -v lw="$(wall "$work/launcher.times")" -v jw="$(wall "$work/java.times")" 'BEGIN {
  ratio = lw / jw
  printf "ROW | launcher vs java -cp, hello world (wall) | %.1f ms | %.1f ms | %.3f | <= 1.02 | %s |\n", \
    lw * 1e3, jw * 1e3, ratio, (ratio <= 1.02 ? "pass" : "falls short")
}'
