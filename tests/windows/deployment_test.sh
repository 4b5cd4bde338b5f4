#!/usr/bin/env bash
# pellora.exe's deployments under Wine, through the Windows backend's Runtime calls and the
# stand-in Runtime (standin/runtime/, put into the prefix by standin_runtime_setup.sh):
#   deployment_test.sh SCENARIO WINE PELLORA_EXE PROBE_EXE RECORDER_EXE LINUX_TOOLS_DIR SCREENSHOTS_DIR
# SCENARIO is first-install, untrusted-signer, tampered-certificate, busy-store, cancel or
# removal. WINE is
# scripts/wine; RECORDER_EXE the command recorder; the Linux tools are burn and site-server of the
# default build. Needs an X display of at least 1600 x 1200. The screenshots stay in
# SCREENSHOTS_DIR for a person to look at.
#
# The stand-in takes one line of deployments.txt per deployment call and records each call in
# record.txt; the command recorder, which handles the launch URI and stands for PowerShell,
# appends its command line to the file of its own path with ".txt" added.
set -euo pipefail
scenario=$1 wine=$2 pellora=$3 probe=$4 recorder=$5 tools=$6 shots=$7

fail() {
  echo "deployment test ($scenario): $*" >&2
  for file in "${log:-}" "${standin:-}/record.txt" "${work:-}/watch"; do
    [ -f "$file" ] && { echo "--- $file" >&2; cat "$file" >&2; }
  done
  exit 1
}
[ -n "${DISPLAY:-}" ] || fail "no X display: run it under xvfb-run"

drive_c=$("$wine" winepath -u 'C:\' | tr -d '\r')
standin=$drive_c/trevalon-standin
launched=$standin/command-recorder.exe.txt
powershell=$drive_c/windows/system32/WindowsPowerShell/v1.0/powershell.exe.txt
work=$(mktemp -d)
site_pid=
probe_pid=
pellora_pid=
original_temp=
cleanup() {
  local status=$?
  set +e
  for pid in "$pellora_pid" "$probe_pid" "$site_pid"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
  "$wine" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
  if [ -n "$original_temp" ]; then
    "$wine" reg add 'HKCU\Environment' /v TEMP /d "$original_temp" /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Environment' /v TMP /d "$original_temp" /f >/dev/null 2>&1
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
mkdir -p "$shots"
rm -f "$shots/deploy-$scenario"-*.png

registry() { "$wine" reg add "$@" /f >/dev/null 2>&1 || fail "reg add $*"; }

# The site: the .appinstaller file the stand-in fetches, the signing certificate and the new
# installer of the reinstall flow.
mkdir -p "$work/site"
printf '<?xml version="1.0" encoding="utf-8"?>\n<AppInstaller Version="1.0.0.0"/>\n' \
  >"$work/site/App.appinstaller"
printf 'test certificate \x01\x02\x03\n' >"$work/site/Test.cer"
printf 'MZ new installer\n' >"$work/site/installer.exe"
# The site is signed and pellora.exe carries the key, so bcrypt checks every file it acts on.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/key.pem"
openssl ec -in "$work/key.pem" -pubout -out "$work/key.pub.pem" 2>/dev/null
for name in Test.cer installer.exe; do
  printf 'trevalon-site-file/1\n%s\n%s' "$name" "$(sha256sum "$work/site/$name" | cut -d' ' -f1)" |
    openssl dgst -sha256 -sign "$work/key.pem" |
    python3 -c 'import sys  # the DER sequence of r and s, as r || s
d, i, out = sys.stdin.buffer.read(), 2, b""
for _ in range(2):
    n = d[i + 1]; out += d[i + 2:i + 2 + n].lstrip(b"\0").rjust(32, b"\0"); i += 2 + n
sys.stdout.buffer.write(out)' >"$work/site/$name.sig"
done
if [ "$scenario" = tampered-certificate ]; then printf 'x' >>"$work/site/Test.cer"; fi
"$tools/site-server" --root "$work/site" --port-file "$work/port" >"$work/site.log" 2>&1 &
site_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "site-server did not start"
site=http://127.0.0.1:$(cat "$work/port")/
package=DeployTest_1.0.0.0_x64__test
"$tools/burn" installer "$pellora" "$work/pellora.exe" --site-base-url "$site" \
  --appinstaller App.appinstaller --launch-uri trevalon-e2e: --package-full-name "$package" \
  --app-exe app.exe --certificate Test.cer --installer installer.exe \
  --update-key "$work/key.pub.pem" >/dev/null

# A Wine desktop gives the dialog a frame and the keyboard (there is no window manager).
desktop=pellora-deploy-$$
registry 'HKCU\Software\Wine\Explorer' /v Desktop /d "$desktop"
registry 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" /d 1600x1200
desktop_geometry() {
  local id
  id=$(xdotool search --name "^$desktop - Wine desktop\$" | head -n 1)
  [ -n "$id" ] || fail "no Wine desktop on the screen"
  xdotool getwindowgeometry --shell "$id"
}
press() {  # KEY: to the foreground window of the Wine desktop
  eval "$(desktop_geometry)"
  xdotool mousemove $((X + 5)) $((Y + 5)) key "$1"
}

temp=$("$wine" cmd /c echo %TEMP% | tr -d '\r')
if [ "$scenario" = untrusted-signer ]; then
  # The certificate lands in the temporary folder, whose path PowerShell gets between single
  # quotes: a name with a space, an apostrophe and each of the typographic single quotes that
  # PowerShell takes for one shows that it arrives as it is. Names reach Wine in UTF-8.
  export LC_ALL=C.UTF-8
  original_temp=$temp
  # U+2018 to U+201B
  quotes=("$(printf '\342\200\230')" "$(printf '\342\200\231')" "$(printf '\342\200\232')" "$(printf '\342\200\233')")
  temp="$temp\\it's a ${quotes[*]} test"
  mkdir -p "$("$wine" winepath -u "$temp" | tr -d '\r')"
  registry 'HKCU\Environment' /v TEMP /d "$temp"
  registry 'HKCU\Environment' /v TMP /d "$temp"
fi
temp_unix=$("$wine" winepath -u "$temp" | tr -d '\r')
log=$temp_unix/$package/pellora.log
rm -f "$log" "$standin/record.txt" "$launched" "$powershell"

deployments() { printf '%s\n' "$@" >"$standin/deployments.txt"; }

# Starts pellora.exe with the arguments, once the probe that writes down every change of the
# progress dialog into $work/watch runs.
start_pellora() {
  "$wine" "$probe" watch >"$work/watch" 2>"$work/watch.ready" &
  probe_pid=$!
  for _ in $(seq 600); do grep -q ready "$work/watch.ready" 2>/dev/null && break; sleep 0.1; done
  grep -q ready "$work/watch.ready" || fail "the probe did not start"
  "$wine" "$work/pellora.exe" "$@" &
  pellora_pid=$!
}
wait_for_watch() {  # PATTERN: until a line of the watch matches
  for _ in $(seq 300); do
    grep -q -E "$1" "$work/watch" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the progress dialog never showed: $1"
}
expect_exit() {
  local status=0
  wait "$pellora_pid" || status=$?
  pellora_pid=
  [ "$status" = "$1" ] || fail "pellora.exe ended with $status, not $1"
  wait "$probe_pid" || true
  probe_pid=
}
expect_log() {  # COUNT TEXT: of the log's lines, after their time and thread
  local found
  found=$(sed -E 's/^[0-9-]+ [0-9:.]+ \[[0-9]+\] //' "$log" | grep -c -x -F -- "$2" || true)
  [ "$found" = "$1" ] || fail "the log has \"$2\" $found times, not $1"
}
# The distinct bar positions above 0, in the order the dialog showed them from the first time
# it bore the title on.
positions() {  # TITLE
  awk -v title="$1" '{ line = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", line) }
    line == title { seen = 1 }
    seen && $2 > 0 && $2 != last { printf "%s%s", sep, $2; sep = " "; last = $2 }' "$work/watch"
}
add_line="uri=${site}App.appinstaller options=0x40 volume=StandInDefaultVolume"

case $scenario in
  first-install)
    deployments "success progress=Q0,P10,P25,P40,P55,P70,P85,P100 step-ms=500 fetch"
    start_pellora --flag "two words"
    wait_for_watch '^visible (40|55|70|85) cancel Downloading, please wait$'
    import -window root "$shots/deploy-$scenario-progress.png"
    expect_exit 0
    [ "$(head -n 1 "$work/watch" | cut -d' ' -f1)" = hidden ] || fail "the window was visible at once"
    moved=$(positions "Downloading, please wait")
    [ "$moved" = "10 25 40 55 70 85 100" ] || fail "the bar moved through $moved"
    expect_log 1 "5 attempts remaining."
    expect_log 1 "Result: op.status: 1 op.error: 0 code=0, IsRegistered=1"
    grep -q -x -E "add [0-9]+ $add_line" "$standin/record.txt" || fail "the deployment was not asked as expected"
    grep -q -x "fetched 200 $(wc -c <"$work/site/App.appinstaller")" "$standin/record.txt" ||
      fail "the .appinstaller file was not fetched from the site"
    [ "$(cat "$launched")" = '"C:\trevalon-standin\command-recorder.exe" "trevalon-e2e:" --flag "two words"' ] ||
      fail "the launch URI was opened as: $(cat "$launched" 2>/dev/null)"
    ;;

  untrusted-signer)
    deployments \
      "error=0x800B0109 progress=Q0,P30 text=error 0x800B0109: The root certificate of the signature in the app package must be trusted." \
      "success progress=Q0,P50,P100"
    # A powershell.exe beside the installer (the Downloads folder) and in the current folder
    # must not be the one that runs elevated.
    cp "$recorder" "$work/powershell.exe"
    mkdir -p "$work/current"
    cp "$recorder" "$work/current/powershell.exe"
    cd "$work/current"
    start_pellora
    expect_exit 0
    [ ! -e "$work/powershell.exe.txt" ] && [ ! -e "$work/current/powershell.exe.txt" ] ||
      fail "a planted powershell.exe was started"
    expect_log 1 "5 attempts remaining."
    expect_log 1 "4 attempts remaining."
    expect_log 1 "Result: op.status: 3 op.error: -2146762487 code=-2146762487, IsRegistered=0"
    cmp -s "$work/site/Test.cer" "$temp_unix/Test.cer" || fail "the certificate was not downloaded"
    expect_log 1 "Signature verified: ${site}Test.cer"
    # PowerShell's single-quoted literal takes each of its quotes written twice.
    quoted_path=${temp//\'/\'\'}
    for quote in "${quotes[@]}"; do quoted_path=${quoted_path//"$quote"/"$quote$quote"}; done
    quoted_path="$quoted_path\\Test.cer"
    expected="Import-Certificate -FilePath '$quoted_path' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\""
    [ "$(wc -l <"$powershell")" = 1 ] || fail "PowerShell was not started once"
    case $(tr -d '\r' <"$powershell") in
      *" $expected") ;;
      *) fail "PowerShell got: $(cat "$powershell"); expected: $expected" ;;
    esac
    [ "$(grep -c '^add ' "$standin/record.txt")" = 2 ] || fail "the deployment was not tried twice"
    grep -q '"trevalon-e2e:"' "$launched" || fail "the launch URI was not opened"
    ;;

  tampered-certificate)
    deployments \
      "error=0x800B0109 progress=Q0,P30 text=error 0x800B0109: The root certificate of the signature in the app package must be trusted."
    start_pellora
    box=$("$wine" "$probe" box | tr -d '\r') || fail "no error box"
    case $box in
      *"Failed to download ${site}Test.cer due to error: The signature of Test.cer did not match: it was not signed with this application's key."*) ;;
      *) fail "the error box says: $box" ;;
    esac
    press Return
    expect_exit 1
    [ ! -e "$powershell" ] || fail "PowerShell was started: $(cat "$powershell")"
    [ "$(grep -c '^add ' "$standin/record.txt")" = 1 ] || fail "the deployment was tried again"
    ;;

  busy-store)
    busy="error=0x87AF0205 step-ms=50 text=error 0x87AF0205: The package store is busy."
    deployments "$busy" "$busy" "$busy" "$busy" "success step-ms=50 progress=P100"
    start_pellora
    expect_exit 0
    for attempts in 5 4 3 2 1; do expect_log 1 "$attempts attempts remaining."; done
    expect_log 4 "SQLITE busy, retrying."
    grep -q -E '^visible [0-9]+ cancel System is busy, retrying$' "$work/watch" ||
      fail "the dialog never said the system is busy"
    # A pause of 1000 ms comes before each new attempt.
    pauses=$(awk '/^add / { if (last) printf "%s ", $2 - last; last = $2 }' "$standin/record.txt")
    for pause in $pauses; do
      [ "$pause" -ge 1000 ] || fail "attempts were $pauses ms apart"
    done
    [ "$(wc -w <<<"$pauses")" = 4 ] || fail "attempts were $pauses ms apart"
    ;;

  cancel)
    deployments "wait progress=Q0,P5,P12 step-ms=300"
    start_pellora
    wait_for_watch '^visible 12 cancel '
    import -window root "$shots/deploy-$scenario-waiting.png"
    press Escape
    expect_exit 5
    grep -q -E '^cancel [0-9]+$' "$standin/record.txt" ||
      fail "the operation was not cancelled through IAsyncInfo::Cancel"
    expect_log 1 "User cancelled the install, exiting."
    ;;

  removal)
    # The reinstall flow: the data folders handed over by the packaged instance (here the
    # stand-in's ApplicationData folders) backed up, the new installer downloaded, then the
    # removal, which the stand-in refuses.
    mkdir -p "$standin/LocalState" "$standin/RoamingState" "$standin/LocalCache"
    echo settings >"$standin/LocalState/settings.txt"
    export TREVALON_APPDATA_LOCAL_FOLDER='C:\trevalon-standin\LocalState'
    export TREVALON_APPDATA_ROAMING_FOLDER='C:\trevalon-standin\RoamingState'
    export TREVALON_APPDATA_LOCAL_CACHE_FOLDER='C:\trevalon-standin\LocalCache'
    deployments "error=0x80073CF1 progress=Q0,P20,P60 step-ms=400 text=error 0x80073CF1: Remove operation on package $package failed because the package was not found."
    start_pellora TREVALON_INTERNAL_UPDATE_MODE=3
    box=$("$wine" "$probe" box 2>/dev/null | tr -d '\r') || fail "no error box"
    import -window root "$shots/deploy-$scenario-error-box.png"
    case $box in
      *"Failed to uninstall due to error: error 0x80073CF1: Remove operation on package $package failed because the package was not found."*) ;;
      *) fail "the error box says: $box" ;;
    esac
    press Return
    expect_exit 1
    grep -q -x -E "remove [0-9]+ name=$package" "$standin/record.txt" || fail "the removal was not asked"
    # The backup: a new numbered folder in the family's folder, marked complete before the
    # removal; the refused removal leaves it for the next start to put back.
    backup="$temp_unix/${package%%_*}_${package##*_}/appdata.backup.1"
    cmp -s "$standin/LocalState/settings.txt" "$backup/Local/settings.txt" ||
      fail "the data were not backed up before the removal"
    [ -f "$backup/backup.complete" ] || fail "the backup was not marked complete"
    case $box in *"A copy of the application's data is kept in "*) ;; *) fail "no word of the copy" ;; esac
    grep -q -E '^visible [0-9]+ no-cancel Removing old package, please wait$' "$work/watch" ||
      fail "the removal's dialog was never seen"
    # The bar may still show the download's end when the title changes.
    moved=$(positions "Removing old package, please wait")
    case " $moved" in *" 20 60") ;; *) fail "the bar moved through $moved" ;; esac
    ;;

  *) fail "unknown scenario" ;;
esac
echo "deployment test ($scenario): passed"
