#!/usr/bin/env bash
# Backs up and restores a 20,000-file 1 GiB data tree through the installer's own code
# (appdata_bench) and, alternately, makes the same two copies with `cp -a`; reports the ratio of
# the medians (goal: the installer's pair takes at most 1.1 times as long as cp's).
# Each side starts after its previous copies are removed and everything is flushed (sync).
# Usage: bench/appdata/run.sh [ROUNDS] [FILES] [MEBIBYTES]   (default 3 20000 1024)
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-3}
files=${2:-20000}
mebibytes=${3:-1024}

cmake --preset default >/dev/null
cmake --build --preset default --target appdata_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bin/appdata_bench make-tree "$work/data" "$files" "$mebibytes"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ours=()
theirs=()
for round in $(seq "$rounds"); do
  rm -rf "$work/cp-backup" "$work/cp-restore"
  sync
  start=$(now)
  cp -a "$work/data" "$work/cp-backup"
  mkdir "$work/cp-restore"
  cp -a "$work/cp-backup/." "$work/cp-restore"
  cp_seconds=$(calc "$(now) - $start")

  rm -rf "$work/tmp" "$work/package"
  mkdir -p "$work/tmp" "$work/package"
  sync
  line=$(build/bin/appdata_bench round "$work/data" "$work/tmp" "$work/package")
  backup_seconds=$(sed -n 's/.*backup_seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  restore_seconds=$(sed -n 's/.*restore_seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  if [ "$round" -eq 1 ]; then
    diff -r "$work/data" "$work/package/LocalState" >/dev/null ||
      { echo "the restored tree differs from the original" >&2; exit 1; }
  fi
  ours_seconds=$(calc "$backup_seconds + $restore_seconds")
  printf 'round %d: cp -a twice %.2f s; backup %.2f s + restore %.2f s = %.2f s\n' \
    "$round" "$cp_seconds" "$backup_seconds" "$restore_seconds" "$ours_seconds"
  ours+=("$ours_seconds")
  theirs+=("$cp_seconds")
done

ours_median=$(printf '%s\n' "${ours[@]}" | median)
cp_median=$(printf '%s\n' "${theirs[@]}" | median)
ratio=$(calc "$ours_median / $cp_median")
result=$(awk "BEGIN { print ($ratio <= 1.1) ? \"met\" : \"missed\" }")
printf "ROW | backup+restore vs cp -a twice, %d files %d MiB (wall) | %.2f s | %.2f s | %.3f | <= 1.1 | %s |\n" \
  "$files" "$mebibytes" "$ours_median" "$cp_median" "$ratio" "$result"
