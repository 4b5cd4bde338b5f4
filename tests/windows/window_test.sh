#!/usr/bin/env bash
# The progress window and the error box of pellora.exe, seen on the X screen under Wine:
#   window_test.sh WINE PELLORA_EXE PROBE_EXE PLANTED_DLL LINUX_TOOLS_DIR SCREENSHOTS_DIR
# WINE is scripts/wine; the Linux tools are burn and site-server of the default build;
# PLANTED_DLL a library that only leaves a mark when it is loaded. Needs an X display of at
# least 1600 x 1200 (scripts/test runs the Windows tests under xvfb-run). The screenshots stay in
# SCREENSHOTS_DIR for a person to look at.
set -euo pipefail
wine=$1 pellora=$2 probe=$3 planted=$4 tools=$5 shots=$6

fail() {
  echo "window test: $*" >&2
  exit 1
}
[ -n "${DISPLAY:-}" ] || fail "no X display: run it under xvfb-run"

work=$(mktemp -d)
holder_pid=
pellora_pid=
cleanup() {
  local status=$?
  set +e
  for pid in "$pellora_pid" "$holder_pid"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
  rm -f "${standin:-/nonexistent}/deployments.txt"
  "$wine" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
mkdir -p "$shots"
rm -f "$shots"/window-*.png "$shots/error-box.png"

registry() { "$wine" reg add "$@" /f >/dev/null 2>&1 || fail "reg add $*"; }
# Starts the probe with its arguments in the background, its output in FILE, and returns once it
# runs (probe_pid is its process).
start_probe() {  # FILE ARGUMENTS...
  local out=$1
  shift
  rm -f "$out.ready"
  "$wine" "$probe" "$@" >"$out" 2>"$out.ready" &
  probe_pid=$!
  for _ in $(seq 600); do grep -q ready "$out.ready" 2>/dev/null && return 0; sleep 0.1; done
  fail "the probe did not start"
}
# There is no window manager under Xvfb: a Wine desktop of a known size gives every window a
# frame and keyboard focus. Wine reads the DPI when a desktop starts, so each DPI gets a desktop
# of its own, named for this run.
use_desktop() {
  desktop=pellora-test-$$-$1
  registry 'HKCU\Software\Wine\Explorer' /v Desktop /d "$desktop"
  registry 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" /d 1600x1200
}

# RRGGBB of one pixel; the number of colours in a rectangle (W H X Y).
pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info:; }
colours_in() { convert "$1" -crop "$2x$3+$4+$5" +repage -format %k info:; }
expect_pixel() {  # FILE X Y RRGGBB WHAT
  local found
  found=$(pixel "$1" "$2" "$3")
  [ "$found" = "$4" ] || fail "$5: pixel ($2, $3) of $(basename "$1") is $found, not $4"
}
# Takes screenshots into FILE until the pixel has the colour (the window paints on its own time).
await_pixel() {  # FILE X Y RRGGBB WHAT
  for _ in $(seq 100); do
    import -window root "$1"
    [ "$(pixel "$1" "$2" "$3")" = "$4" ] && return 0
    sleep 0.1
  done
  expect_pixel "$@"
}
# The banner (teal 240 x 60 pixels for 96 DPI, orange 480 x 120 for 192), centred, its top 100
# pixels into the client area, and the bar below it, framed and drawn: from the probe's layout
# line, in screen pixels of the Wine desktop at X, Y.
check_window() {  # WHAT DPI SHOT LAYOUT-LINE
  local what=$1 dpi=$2 shot=$3
  read -r _ cx cy cw _ _ _ _ bar_left bar_top bar_right bar_bottom <<<"$4"
  cx=$((cx + X)) cy=$((cy + Y))
  bar_left=$((bar_left + X)) bar_top=$((bar_top + Y))
  bar_right=$((bar_right + X)) bar_bottom=$((bar_bottom + Y))
  if [ "$dpi" = 96 ]; then width=240 height=60 colour=0A7B83; else width=480 height=120 colour=E8590C; fi
  left=$((cx + cw / 2 - width / 2)) top=$((cy + 100))
  await_pixel "$shot" $((left + 3)) $((top + 3)) "$colour" "$what: banner's top left"
  expect_pixel "$shot" $((left + width - 4)) $((top + height - 4)) "$colour" "$what: banner's bottom right"
  expect_pixel "$shot" $((left + 3)) $((top - 3)) FFFFFF "$what: white dialog above the banner"
  expect_pixel "$shot" $((left + width + 3)) $((top + 3)) FFFFFF "$what: white dialog right of the banner"
  [ "$bar_top" -gt $((top + height)) ] || fail "$what: the bar overlaps the banner"
  [ "$bar_right" -le $((cx + cw)) ] || fail "$what: the bar leaves the window"
  middle=$(((bar_top + bar_bottom) / 2))
  # The bar may paint a moment after the banner.
  for _ in $(seq 50); do
    [ "$(pixel "$shot" "$bar_left" "$middle")" != FFFFFF ] && break
    sleep 0.1
    import -window root "$shot"
  done
  [ "$(pixel "$shot" "$bar_left" "$middle")" != FFFFFF ] || fail "$what: the bar has no frame"
  [ "$(colours_in "$shot" $((bar_right - bar_left)) $((bar_bottom - bar_top)) "$bar_left" "$bar_top")" -gt 1 ] ||
    fail "$what: nothing is drawn where the bar is"
}

# A first installation whose deployment (the stand-in Runtime's, scripted) reports 45 % and then
# waits until it is cancelled: the window stays up for as long as the test looks at it.
standin=$("$wine" winepath -u 'C:\trevalon-standin' | tr -d '\r')
[ -d "$standin" ] || fail "the stand-in Runtime is not set up in the prefix"
package=WindowTest_1.0.0.0_x64__test
"$tools/burn" installer "$pellora" "$work/pellora.exe" \
  --site-base-url "http://127.0.0.1:9/" --appinstaller App.appinstaller \
  --launch-uri trevalon-window-test: --package-full-name "$package" --app-exe app.exe >/dev/null

# The burned settings at work: the log lands in the temporary folder named after the package.
temp=$("$wine" cmd /c echo %TEMP% | tr -d '\r')
log="$("$wine" winepath -u "$temp" | tr -d '\r')/$package/pellora.log"
rm -f "$log"

desktop_geometry() {
  local id
  id=$(xdotool search --name "^$desktop - Wine desktop\$" | head -n 1)
  [ -n "$id" ] || fail "no Wine desktop on the screen"
  xdotool getwindowgeometry --shell "$id"
}

# The libraries pellora.exe uses that are no KnownDLL: a copy of each planted beside the program,
# with Wine told to look for them as Windows does (the program's folder first), must never run.
planted_names="winhttp gdiplus netapi32 comctl32"
for name in $planted_names; do cp "$planted" "$work/$name.dll"; done

for dpi in 96 192; do
  registry 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
  use_desktop "$dpi"
  printf 'wait progress=Q0,P45 step-ms=100\n' >"$standin/deployments.txt"
  # The probe runs before the program starts, so that it sees the window as soon as it exists.
  start_probe "$work/created" created
  WINEDLLOVERRIDES="mscoree,mshtml=;${planted_names// /,}=n,b" \
    "$wine" "$work/pellora.exe" &
  pellora_pid=$!
  wait "$probe_pid" || fail "$dpi DPI: the window was never created"
  before="$shots/window-$dpi-dpi-before-2s.png"
  import -window root "$before"
  [ "$(tr -d '\r' <"$work/created")" = hidden ] || fail "$dpi DPI: the window was visible at once"
  eval "$(desktop_geometry)"
  [ "$(colours_in "$before" "$WIDTH" "$HEIGHT" "$X" "$Y")" = 1 ] ||
    fail "$dpi DPI: something was drawn before the window's 2 seconds"

  layout=$("$wine" "$probe" shown 2>/dev/null | tr -d '\r') || fail "$dpi DPI: the window was never shown"
  read -r _ _ _ _ _ _ window_dpi _ <<<"$layout"
  [ "$window_dpi" = "$dpi" ] || fail "the window reports $window_dpi DPI, not $dpi"
  check_window "$dpi DPI" "$dpi" "$shots/window-$dpi-dpi.png" "$layout"

  if [ "$dpi" = 96 ]; then
    # Moved to a monitor of 192 DPI: the suggested rectangle taken, the controls laid out again,
    # the 192-DPI banner drawn at its size.
    changed=$("$wine" "$probe" dpi 192 2>/dev/null | tr -d '\r') || fail "no DPI change delivered"
    read -r _ s_left s_top s_right _ <<<"$(head -n 1 <<<"$changed")"
    moved=$(tail -n 1 <<<"$changed")
    check_window "after a change to 192 DPI" 192 "$shots/window-96-to-192-dpi.png" "$moved"
    read -r _ _ _ old_width _ <<<"$layout"
    read -r _ new_x new_y new_width _ <<<"$moved"
    [ "$new_x" -ge "$s_left" ] && [ "$new_y" -ge "$s_top" ] && [ "$new_width" -le $((s_right - s_left)) ] &&
      [ "$new_width" -ge $((2 * old_width - 20)) ] ||
      fail "the window did not take the suggested rectangle: $changed (was $layout)"
    grep -q "New DPI: 192" "$log" || fail "the DPI change was not logged"
  fi

  # Closing the window (Alt+F4: the dialog has no system menu, so no close box) cancels the run.
  xdotool mousemove $((X + 5)) $((Y + 5)) key alt+F4
  status=0
  wait "$pellora_pid" || status=$?
  pellora_pid=
  [ "$status" = 5 ] || fail "$dpi DPI: closing the window ended pellora with $status, not 5"
done
for name in $planted_names; do
  [ ! -e "$work/$name.dll.ran" ] || fail "the $name.dll beside pellora.exe was loaded"
done
[ "$(grep -c 'User cancelled the install, exiting.' "$log")" -ge 2 ] ||
  fail "the log does not tell both cancellations: $(cat "$log")"
rm -f "$standin/deployments.txt"

# Each Wine desktop's explorer runs a clipboard manager of its own, and two of them at once take
# the X selection from each other, emptying the clipboard: the box's desktop starts once the
# desktops above have ended.
# The prefix as scripts/wine chooses it.
prefix=${TREVALON_WINE_PREFIX:-$(cd "$(dirname "$wine")/.." && pwd)/build-windows/wine-prefix}
desktops_of_this_prefix() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$pid"
  done
}
for _ in $(seq 300); do [ -z "$(desktops_of_this_prefix)" ] && break; sleep 0.1; done
[ -z "$(desktops_of_this_prefix)" ] || fail "the desktops of the window's runs did not end"

# The error box of an installer that was never burned: seen, dismissed with Enter, text on the
# clipboard.
registry 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96
use_desktop error-box
# A desktop that ends takes its clipboard along; this one outlives pellora.
start_probe "$work/hold" hold
holder_pid=$probe_pid
"$wine" "$pellora" &
pellora_pid=$!
box_text=$("$wine" "$probe" box 2>/dev/null | tr -d '\r') || fail "no error box"
# The window never showed: the box stands on its own, in front, with a taskbar button.
owner=$("$wine" "$probe" box-owner 2>/dev/null | tr -d '\r')
[ "$owner" = "owner none foreground" ] || fail "the error box has $owner"
import -window root "$shots/error-box.png"
case "$box_text" in
  *"copied to your clipboard"*"has not been configured by the packaging step"*) ;;
  *) fail "the error box says: $box_text" ;;
esac
eval "$(desktop_geometry)"
xdotool mousemove $((X + 5)) $((Y + 5)) key Return
status=0
wait "$pellora_pid" || status=$?
pellora_pid=
[ "$status" = 1 ] || fail "the error box ended pellora with $status, not 1"
clipboard=$("$wine" "$probe" clipboard 2>/dev/null | tr -d '\r') || fail "nothing on the clipboard"
case "$clipboard" in
  "This installer has not been configured by the packaging step"*) ;;
  *) fail "the clipboard holds: $clipboard" ;;
esac
kill "$holder_pid" 2>/dev/null || true
echo "window test: passed; screenshots in $shots"
