#!/usr/bin/env bash
# The chains of Windows processes that a user walks through, under Wine: the stand-in Runtime
# (standin_runtime_setup.sh) installs for real into its store, whose package folders have C:\
# paths, and registers each package's launch URI scheme. The test packages hold the identity
# variant of pellora.exe as updatecheck.exe (it has package identity when it runs from its
# package folder) and the command recorder as app.exe, which writes each start's command line and
# data-folder variables to one record file.
#   flows_test.sh SCENARIO WINE PELLORA_EXE IDENTITY_EXE RECORDER_EXE LINUX_TOOLS_DIR
# SCENARIO: packaged-start, aggressive-update, check-for-update or six-starts. Needs an X
# display.
set -euo pipefail
scenario=$1 wine=$2 pellora=$3 identity=$4 recorder=$5 tools=$6

fail() {
  echo "flows test ($scenario): $*" >&2
  for file in "${work:-}/record.txt" "${standin:-}/record.txt" "${temp_unix:-}"/*/pellora.log; do
    [ -f "$file" ] && { echo "--- $file" >&2; cat "$file" >&2; }
  done
  exit 1
}

[ -n "${DISPLAY:-}" ] || fail "no X display: run it under xvfb-run"
drive_c=$("$wine" winepath -u 'C:\' | tr -d '\r')
standin=$drive_c/trevalon-standin
store=$standin/store
work=$(mktemp -d)
site_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# Every deployment goes to the store, a fresh one for each scenario.
rm -rf "$store" "$standin/calls" "$standin/deployments.txt" "$standin/record.txt"
temp=$("$wine" cmd /c echo %TEMP% | tr -d '\r')
temp_unix=$("$wine" winepath -u "$temp" | tr -d '\r')

name=WineFlows.${scenario//-/}
rm -rf "$temp_unix/$name"_*
scheme=trevalon-${scenario}
publisher='CN=Wine Flows, O=Trevalon Tests, C=FR'
mkdir -p "$work/site"
"$tools/site-server" --root "$work/site" --port-file "$work/port" >"$work/site.log" 2>&1 &
site_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "site-server did not start"
site=http://127.0.0.1:$(cat "$work/port")/
openssl ecparam -name prime256v1 -genkey -noout -out "$work/key.pem"
openssl ec -in "$work/key.pem" -pubout -out "$work/key.pem.pub" 2>/dev/null

full_name() {  # VERSION
  "$tools/make-site" --print-full-name --name "$name" --publisher "$publisher" --version "$1" \
    --architecture x64
}
burn() {  # PROGRAM OUT VERSION [FLAGS...]
  local program=$1 out=$2 version=$3
  shift 3
  "$tools/burn" installer "$program" "$out" --site-base-url "$site" \
    --appinstaller "$name.appinstaller" --launch-uri "$scheme:open" \
    --package-full-name "$(full_name "$version")" --app-exe app.exe --certificate "$name.cer" \
    --update-key "$work/key.pem.pub" "$@" >/dev/null
}
# Puts VERSION on the site: its package holds updatecheck.exe (burned with FLAGS) and app.exe.
publish() {  # VERSION [FLAGS...]
  local version=$1
  mkdir -p "$work/stage-$version"
  burn "$identity" "$work/stage-$version/updatecheck.exe" "$@"
  "$tools/make-site" --out "$work/site" --base-url "$site" --name "$name" \
    --publisher "$publisher" --version "$version" --architecture x64 \
    --executable updatecheck.exe --protocol "$scheme" \
    --file "$work/stage-$version/updatecheck.exe=updatecheck.exe" --file "$recorder=app.exe" \
    --certificate "$name.cer" --signing-key "$work/key.pem" >/dev/null
}
# The store trusts the site's signer, as the certificate import would have made it.
trust() { mkdir -p "$store/trust" && cp "$work/site/$name.cer" "$store/trust/"; }

export TREVALON_TEST_RECORD
TREVALON_TEST_RECORD=$("$wine" winepath -w "$work/record.txt" | tr -d '\r')
starts() { [ -f "$work/record.txt" ] && wc -l <"$work/record.txt" || echo 0; }
wait_for_starts() {  # COUNT: of the application
  for _ in $(seq 600); do [ "$(starts)" -ge "$1" ] && return 0; sleep 0.1; done
  fail "the application did not start $1 times"
}
# The Nth start's field: 1 the command line, 2 to 4 the data-folder variables.
start_field() { sed -n "$1p" "$work/record.txt" | cut -f "$2" | tr -d '\r'; }
folder_of() { echo "C:\\trevalon-standin\\store\\packages\\$(full_name "$1")"; }
log_of() { echo "$temp_unix/$(full_name "$1")/pellora.log"; }
# The lines of a log, without their time and thread.
log_lines() { sed -E 's/^[0-9-]+ [0-9:.]+ \[[0-9]+\] //' "$1"; }
wait_for_log() {  # VERSION TEXT: a line of that version's pellora.log
  for _ in $(seq 600); do
    [ -f "$(log_of "$1")" ] && log_lines "$(log_of "$1")" | grep -q -x -F -- "$2" && return 0
    sleep 0.1
  done
  fail "the log of $1 never said \"$2\""
}
# The number of the first line of the log that starts with TEXT (0 for none).
log_position() {  # VERSION TEXT
  log_lines "$(log_of "$1")" | grep -n -F -- "$2" | head -n 1 | cut -d: -f1 || echo 0
}
open_uri() {  # PARAMETERS: the launch URI opened by the shell, as a link would
  "$wine" start "$scheme:open" "$@" >/dev/null 2>&1 || fail "start $scheme:open failed"
}

case $scenario in
  packaged-start)
    # The downloaded installer installs 1.0.0.0; the launch URI starts the packaged copy, which
    # starts the application at once, then reads the metadata.
    publish 1.0.0.0
    trust
    burn "$pellora" "$work/setup.exe" 1.0.0.0
    status=0
    "$wine" "$work/setup.exe" --flag "two words" || status=$?
    [ "$status" = 0 ] || fail "the installer ended with $status"
    wait_for_starts 1
    [ "$(start_field 1 1)" = "\"$(folder_of 1.0.0.0)\\app.exe\" --flag \"two words\"" ] ||
      fail "the application was started as: $(start_field 1 1)"
    family=$(sed -n 's/^FamilyName=//p' "$store/registrations/$(full_name 1.0.0.0)")
    [ -d "$store/data/$family/LocalState" ] || fail "the family's data folders were not made"
    wait_for_log 1.0.0.0 "Parsed metadata:"
    launched=$(log_position 1.0.0.0 "Full command: ")
    metadata=$(log_position 1.0.0.0 "Downloading metadata...")
    [ "$launched" -gt 0 ] && [ "$launched" -lt "$metadata" ] ||
      fail "the application was not started before the metadata was read"
    ;;

  aggressive-update)
    # 1.0.0.0 with aggressive updates: a start without an update runs the application; once
    # 1.1.0.0 is published, the next start goes packaged copy -> temporary copy (forced update)
    # -> launch URI (start_app) -> the new version's application, with the start's arguments.
    publish 1.0.0.0 --aggressive-updates
    trust
    burn "$pellora" "$work/setup.exe" 1.0.0.0 --aggressive-updates
    status=0
    "$wine" "$work/setup.exe" first || status=$?
    [ "$status" = 0 ] || fail "the installer ended with $status"
    wait_for_starts 1
    [ "$(start_field 1 1)" = "\"$(folder_of 1.0.0.0)\\app.exe\" first" ] ||
      fail "the application was started as: $(start_field 1 1)"
    wait_for_log 1.0.0.0 "Metadata version: 1.0.0.0"
    publish 1.1.0.0 --aggressive-updates
    open_uri "second start" --x
    wait_for_starts 2
    [ "$(start_field 2 1)" = "\"$(folder_of 1.1.0.0)\\app.exe\" \"second start\" --x" ] ||
      fail "the application was started as: $(start_field 2 1)"
    log=$(log_lines "$(log_of 1.0.0.0)")
    for line in "Metadata version: 1.1.0.0" \
      "Full command: \"$temp\\$(full_name 1.0.0.0)\\updater.exe\" TREVALON_INTERNAL_UPDATE_MODE=1 \"second start\" --x" \
      "Forcing update." "Result: op.status: 1 op.error: 0 code=0, IsRegistered=1"; do
      grep -q -x -F -- "$line" <<<"$log" || fail "the 1.0.0.0 log lacks \"$line\""
    done
    wait_for_log 1.1.0.0 "Already checked for update, just start the app."
    [ ! -e "$store/packages/$(full_name 1.0.0.0)" ] || fail "1.0.0.0 is still installed"
    [ "$(ls "$store/registrations")" = "$(full_name 1.1.0.0)" ] || fail "registered: $(ls "$store/registrations")"
    ;;

  check-for-update)
    # The packaged copy started with --update-check, as the application asks for it: without an
    # update it starts the application; with one, the temporary updater installs it and
    # start_app runs the new version's application with the arguments.
    publish 1.0.0.0
    trust
    burn "$pellora" "$work/setup.exe" 1.0.0.0
    "$wine" "$work/setup.exe" || fail "the installer failed"
    wait_for_starts 1
    "$wine" "$(folder_of 1.0.0.0)\\updatecheck.exe" --update-check now ||
      fail "the check without an update failed"
    wait_for_starts 2
    [ "$(start_field 2 1)" = "\"$(folder_of 1.0.0.0)\\app.exe\" now" ] ||
      fail "the application was started as: $(start_field 2 1)"
    publish 1.1.0.0
    # The update ends the process that started it, with the package it runs from.
    "$wine" "$(folder_of 1.0.0.0)\\updatecheck.exe" --update-check "a b" later || true
    wait_for_starts 3
    [ "$(start_field 3 1)" = "\"$(folder_of 1.1.0.0)\\app.exe\" \"a b\" later" ] ||
      fail "the application was started as: $(start_field 3 1)"
    [ "$(log_lines "$(log_of 1.0.0.0)" | grep -c -x -F "Just check for updates.")" = 2 ] ||
      fail "the 1.0.0.0 log does not say twice that it just checks for updates"
    wait_for_log 1.1.0.0 "Already checked for update, just start the app."
    ;;

  six-starts)
    # Six starts a moment apart while an update is due: each runs the application or is ended
    # by the update that replaces its package, none stays behind an error box.
    publish 1.0.0.0 --aggressive-updates
    trust
    burn "$pellora" "$work/setup.exe" 1.0.0.0 --aggressive-updates
    "$wine" "$work/setup.exe" || fail "the installer failed"
    wait_for_starts 1
    wait_for_log 1.0.0.0 "Metadata version: 1.0.0.0"
    publish 1.1.0.0 --aggressive-updates
    for start in 0 1 2 3 4 5; do
      open_uri "start $start"
      sleep "0.$((start * 2))"
    done
    wait_for_starts 2
    # Every process of the chain ends: one behind an error box would stay.
    for _ in $(seq 900); do pgrep -f "$name" >/dev/null || break; sleep 0.1; done
    ! pgrep -a -f "$name" >&2 || fail "processes of the chain are still running"
    [ "$(ls "$store/registrations")" = "$(full_name 1.1.0.0)" ] ||
      fail "registered: $(ls "$store/registrations")"
    for line in $(seq 2 "$(starts)"); do
      case $(start_field "$line" 1) in
        "\"$(folder_of 1.1.0.0)\\app.exe\" \"start "[0-5]\") ;;
        *) fail "start $line ran as: $(start_field "$line" 1)" ;;
      esac
    done
    ;;

  *) fail "unknown scenario" ;;
esac
echo "flows test ($scenario): passed"
