#!/usr/bin/env bash
# The chains of Windows processes that a user walks through, under Wine: the stand-in Runtime
# (standin_runtime_setup.sh) installs for real into its store, whose package folders have C:\
# paths, and registers each package's launch URI scheme. The test packages hold the identity
# variant of pellora.exe as updatecheck.exe (it has package identity when it runs from its
# package folder) and the command recorder as app.exe, which writes each start's command line and
# data-folder variables to one record file.
#   flows_test.sh SCENARIO WINE PELLORA_EXE IDENTITY_EXE RECORDER_EXE PROBE_EXE LINUX_TOOLS_DIR
# SCENARIO: packaged-start, aggressive-update, check-for-update, six-starts,
# escape-hatch-package, reinstall, reinstall-refused or failed-restore. PROBE_EXE is the window probe. Needs an X
# display.
set -euo pipefail
scenario=$1 wine=$2 pellora=$3 identity=$4 recorder=$5 probe=$6 tools=$7

fail() {
  echo "flows test ($scenario): $*" >&2
  for file in "${work:-}/record.txt" "${standin:-}/record.txt" "${temp_unix:-}/${name:-}"_*/pellora.log; do
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
holder_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
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
# Puts VERSION on the site: its package holds updatecheck.exe (burned with FLAGS) and app.exe;
# the array site_options holds further options of make-site.
site_options=()
publish() {  # VERSION [FLAGS...]
  local version=$1
  mkdir -p "$work/stage-$version"
  burn "$identity" "$work/stage-$version/updatecheck.exe" "$@"
  "$tools/make-site" --out "$work/site" --base-url "$site" --name "$name" \
    --publisher "$publisher" --version "$version" --architecture x64 \
    --executable updatecheck.exe --protocol "$scheme" \
    --file "$work/stage-$version/updatecheck.exe=updatecheck.exe" --file "$recorder=app.exe" \
    --certificate "$name.cer" --signing-key "$work/key.pem" "${site_options[@]}" >/dev/null
}
hatch_metadata() {  # URL: the escape hatch the site names, to run always
  site_options+=(--metadata "app.windows.manifests.msix.update-escape-hatch.exe=$1"
    --metadata "app.windows.manifests.msix.update-escape-hatch.run-if=always")
}
# Makes the data folders of the installed family hold nested folders, binary content, an empty
# file and names with spaces, and keeps a copy of them in $work/data-before.
fill_data() {  # FAMILY-DATA-FOLDER
  local data=$1
  head -c 300000 /dev/urandom >"$data/LocalState/model.bin"
  mkdir -p "$data/LocalState/projects/big one" "$data/RoamingState/sync" "$data/LocalCache/thumbs"
  printf '{"theme": "dark"}\n' >"$data/LocalState/projects/big one/settings.json"
  : >"$data/LocalState/projects/empty.txt"
  printf 'a\r\nb\r\n' >"$data/RoamingState/recent files.txt"
  printf '\0\377\001' >"$data/RoamingState/sync/state"
  head -c 5000 /dev/urandom >"$data/LocalCache/thumbs/1.png"
  cp -a "$data" "$work/data-before"
}
# Until no process of the chain (each has the package's name in its path) runs: one behind an
# error box would stay.
wait_for_chain_to_end() {
  for _ in $(seq 900); do pgrep -f "$name" >/dev/null || return 0; sleep 0.1; done
  pgrep -a -f "$name" >&2
  fail "processes of the chain are still running"
}
# The store trusts the site's signer, as the certificate import (packaged-start) makes it.
trust() { mkdir -p "$store/trust" && cp "$work/site/$name.cer" "$store/trust/"; }

# Installs 1.0.0.0, published and burned with FLAGS, from the site as a user would, then fills
# its family's data folders ($data; $family the family's name).
install_with_data() {  # [FLAGS...]
  publish 1.0.0.0 "$@"
  trust
  burn "$pellora" "$work/setup.exe" 1.0.0.0 "$@"
  "$wine" "$work/setup.exe" || fail "the installer failed"
  wait_for_starts 1
  wait_for_chain_to_end
  family=$(sed -n 's/^FamilyName=//p' "$store/registrations/$(full_name 1.0.0.0)")
  data=$store/data/$family
  fill_data "$data"
}
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
    # The downloaded installer installs 1.0.0.0, trusting the site's certificate through
    # PowerShell (the recorder) on the way; the launch URI starts the packaged copy, which starts
    # the application at once, then reads the metadata.
    publish 1.0.0.0
    burn "$pellora" "$work/setup.exe" 1.0.0.0
    status=0
    "$wine" "$work/setup.exe" --flag "two words" 2>"$work/setup.err" || status=$?
    [ "$status" = 0 ] || fail "the installer ended with $status: $(cat "$work/setup.err")"
    cmp -s "$work/site/$name.cer" "$store/trust/$name.cer" || fail "the certificate is not trusted"
    log_lines "$(log_of 1.0.0.0)" | grep -q -x -F "Installing certificate into LocalMachine/TrustedPeople." ||
      fail "the certificate was not imported by the installer"
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
    # The packaged copy reads the metadata once the application runs; under Wine two processes
    # appending to one log at once can lose a line (Windows appends each write whole).
    wait_for_chain_to_end
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
    # The site back at 1.0.0.0 and its installer run again: the store refuses the downgrade,
    # which the installer takes as the package being in place; the launch URI starts 1.1.0.0.
    publish 1.0.0.0
    "$wine" "$work/setup.exe" again || fail "the installer failed on the downgrade"
    wait_for_starts 4
    [ "$(start_field 4 1)" = "\"$(folder_of 1.1.0.0)\\app.exe\" again" ] ||
      fail "the application was started as: $(start_field 4 1)"
    log_lines "$(log_of 1.0.0.0)" |
      grep -q -x -F "Result: op.status: 3 op.error: -2147009274 code=-2147009274, IsRegistered=0" ||
      fail "the downgrade was not refused with 0x80073D06"
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
    wait_for_chain_to_end
    [ "$(ls "$store/registrations")" = "$(full_name 1.1.0.0)" ] ||
      fail "registered: $(ls "$store/registrations")"
    for line in $(seq 2 "$(starts)"); do
      case $(start_field "$line" 1) in
        "\"$(folder_of 1.1.0.0)\\app.exe\" \"start "[0-5]\") ;;
        *) fail "start $line ran as: $(start_field "$line" 1)" ;;
      esac
    done
    ;;

  escape-hatch-package)
    # The site names a rescue program inside the package (ms-appx): the packaged copy copies it
    # to its temporary folder as escape-hatch.exe and starts it with the URL's query, the data
    # folders published to it; with aggressive updates nothing else starts.
    hatch_metadata 'ms-appx:///rescue/rescue.exe?--from=package&x=a%20b'
    site_options+=(--file "$recorder=rescue/rescue.exe")
    publish 1.0.0.0 --aggressive-updates --escape-hatch
    trust
    burn "$pellora" "$work/setup.exe" 1.0.0.0
    "$wine" "$work/setup.exe" --open || fail "the installer failed"
    wait_for_starts 1
    wait_for_chain_to_end
    [ "$(starts)" = 1 ] || fail "$(starts) programs started"
    [ "$(start_field 1 1)" = "\"$temp\\$(full_name 1.0.0.0)\\escape-hatch.exe\" --from=package x=a b" ] ||
      fail "the escape hatch was started as: $(start_field 1 1)"
    family=$(sed -n 's/^FamilyName=//p' "$store/registrations/$(full_name 1.0.0.0)")
    data="C:\\trevalon-standin\\store\\data\\$family"
    [ "$(start_field 1 2)" = "$data\\LocalState" ] && [ "$(start_field 1 3)" = "$data\\RoamingState" ] &&
      [ "$(start_field 1 4)" = "$data\\LocalCache" ] || fail "the data folders published: $(sed -n 1p "$work/record.txt")"
    wait_for_log 1.0.0.0 "Running package file: rescue/rescue.exe"
    ;;

  reinstall)
    # The site's escape hatch, downloaded, is the old installer told to reinstall: it backs the
    # three data folders up, removes the package and hands over to the site's new installer,
    # which installs 1.1.0.0 and opens the launch URI to restore; the new packaged copy puts the
    # data back byte for byte and starts the application with the saved command line.
    install_with_data --aggressive-updates --escape-hatch --installer installer.exe

    mkdir -p "$work/stage-site"
    burn "$pellora" "$work/stage-site/installer.exe" 1.1.0.0 --aggressive-updates --installer installer.exe
    burn "$pellora" "$work/stage-site/hatch.exe" 1.0.0.0 --aggressive-updates --installer installer.exe
    hatch_metadata "${site}hatch.exe?TREVALON_INTERNAL_UPDATE_MODE=3"
    site_options+=(--installer-name installer.exe
      --site-file "$work/stage-site/installer.exe=installer.exe"
      --site-file "$work/stage-site/hatch.exe=hatch.exe")
    publish 1.1.0.0 --aggressive-updates --installer installer.exe
    "$wine" "$(folder_of 1.0.0.0)\\updatecheck.exe" --open "my project.trv" || true
    wait_for_starts 2
    wait_for_chain_to_end
    [ "$(start_field 2 1)" = "\"$(folder_of 1.1.0.0)\\app.exe\" --open \"my project.trv\"" ] ||
      fail "the application was started as: $(start_field 2 1)"
    [ "$(ls "$store/registrations")" = "$(full_name 1.1.0.0)" ] ||
      fail "registered: $(ls "$store/registrations")"
    diff -r "$work/data-before" "$data" >&2 || fail "the data did not come back as they were"
    backup="$temp\\$family\\appdata.backup.1"
    old_log=$(log_lines "$(log_of 1.0.0.0)")
    for line in "Running the escape hatch: ${site}hatch.exe?TREVALON_INTERNAL_UPDATE_MODE=3" \
      "Reinstalling the app."; do
      grep -q -x -F -- "$line" <<<"$old_log" || fail "the 1.0.0.0 log lacks \"$line\""
    done
    grep -q -F -- "Backing up AppData into: $backup" <<<"$old_log" || fail "no backup into $backup"
    new_log=$(log_lines "$(log_of 1.1.0.0)")
    for line in "Restoring backup." "Restoring backup from: $backup"; do
      grep -q -x -F -- "$line" <<<"$new_log" || fail "the 1.1.0.0 log lacks \"$line\""
    done
    ! grep -q -E "Error backing up app data|Error restoring backup" <<<"$old_log$new_log" ||
      fail "a backup or restore failed"
    ;;

  failed-restore)
    # A folder that cannot take the data back (a file in its place): the application starts
    # with the saved command line, the error box names the copy, which stays; the next start
    # puts everything back.
    install_with_data --aggressive-updates
    backup_unix=$temp_unix/$family/appdata.backup.1
    mkdir -p "$backup_unix"
    cp -a "$data/LocalState" "$backup_unix/Local"
    cp -a "$data/RoamingState" "$backup_unix/Roaming"
    cp -a "$data/LocalCache" "$backup_unix/LocalCache"
    printf -- '--saved' >"$backup_unix/cmd_line.txt"
    : >"$backup_unix/backup.complete"
    rm -rf "$data"
    mkdir -p "$data/RoamingState" "$data/LocalCache"
    echo "in the way" >"$data/LocalState"
    backup="$temp\\$family\\appdata.backup.1"
    "$wine" "$probe" box >"$work/box" 2>"$work/box.ready" &
    box_pid=$!
    for _ in $(seq 600); do grep -q ready "$work/box.ready" 2>/dev/null && break; sleep 0.1; done
    open_uri TREVALON_INTERNAL_UPDATE_MODE=4 "$backup"
    wait "$box_pid" || fail "no error box"
    wait_for_starts 2
    [ "$(start_field 2 1)" = "\"$(folder_of 1.0.0.0)\\app.exe\" --saved" ] ||
      fail "the application was started as: $(start_field 2 1)"
    box=$(tr -d '\r' <"$work/box")
    case $box in
      *"The application's data could not all be put back: "*"A copy of the data is kept in $backup;"*) ;;
      *) fail "the error box says: $box" ;;
    esac
    # The box's process is ours to end, as a click on OK would.
    for pid in $(pgrep -f "$name"); do kill "$pid"; done
    wait_for_chain_to_end
    [ -f "$backup_unix/backup.complete" ] || fail "the copy was not kept"
    rm "$data/LocalState"
    mkdir "$data/LocalState"
    open_uri
    wait_for_starts 3
    wait_for_chain_to_end
    diff -r "$work/data-before" "$data" >&2 || fail "the data did not come back as they were"
    [ ! -e "$backup_unix" ] || fail "the restored copy stayed"
    ;;

  reinstall-refused)
    # Reinstalls that must not begin, run as the escape hatch would run them: only some data
    # folders handed over (the removal would take the others), and another reinstall holding the
    # family's lock. Each ends in its box; the package and its data stay as they were.
    install_with_data --aggressive-updates
    handed="C:\\trevalon-standin\\store\\data\\$family"
    refused() {  # TEXT [VARIABLE=VALUE...]: the reinstall's box holds TEXT, nothing is touched
      local text=$1
      shift
      "$wine" "$probe" box >"$work/box" 2>"$work/box.ready" &
      local box_pid=$!
      for _ in $(seq 600); do grep -q ready "$work/box.ready" 2>/dev/null && break; sleep 0.1; done
      env "$@" "$wine" "$work/setup.exe" TREVALON_INTERNAL_UPDATE_MODE=3 &
      local reinstall_pid=$!
      wait "$box_pid" || fail "no error box"
      kill "$reinstall_pid"  # as a click on OK would end it
      wait "$reinstall_pid" || true
      case $(tr -d '\r' <"$work/box") in
        *"$text"*) ;;
        *) fail "the error box says: $(cat "$work/box")" ;;
      esac
      [ "$(ls "$store/registrations")" = "$(full_name 1.0.0.0)" ] ||
        fail "registered: $(ls "$store/registrations")"
      diff -r "$work/data-before" "$data" >&2 || fail "the data changed"
      ! log_lines "$(log_of 1.0.0.0)" | grep -q -F "Removing old package" ||
        fail "the package was being removed"
    }
    refused "data folder was not handed over" TREVALON_APPDATA_LOCAL_FOLDER="$handed\\LocalState"
    mkdir -p "$temp_unix/$family"
    "$wine" "$probe" hold-file "$temp\\$family\\reinstall.lock" >"$work/held" 2>/dev/null &
    holder_pid=$!
    for _ in $(seq 600); do grep -q held "$work/held" 2>/dev/null && break; sleep 0.1; done
    grep -q held "$work/held" || fail "the lock could not be held"
    refused "Another reinstall of the application is under way" \
      TREVALON_APPDATA_LOCAL_FOLDER="$handed\\LocalState" \
      TREVALON_APPDATA_ROAMING_FOLDER="$handed\\RoamingState" \
      TREVALON_APPDATA_LOCAL_CACHE_FOLDER="$handed\\LocalCache"
    kill "$holder_pid"
    ;;

  *) fail "unknown scenario" ;;
esac
echo "flows test ($scenario): passed"
