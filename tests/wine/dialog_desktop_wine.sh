#!/usr/bin/env bash
# matrix-update.exe on a Windows desktop as its operators have it, under Wine on a virtual
# display of 800x600 at 144 dpi (150%), driven with xdotool against the Linux device simulator
# mapped as COM7:
#   1. the dialog is centred on the work area and wholly inside it, and can be moved by its caption;
#   2. its taskbar button is told of the update's progress; the file chooser's folder is kept in
#      setting.ini and the next start opens the chooser there;
#   3. from a program folder that cannot be written (a read-only bind mount in a private mount
#      namespace, with Wine's server inside it, as the server opens the files): setting.ini in
#      %APPDATA%\matrix-update, the old one in the folder read until then, the skin file in the
#      user's temporary folder, no notice at start-up.
# Wine keeps the display its server started with, so the server is restarted inside this
# script's display and stopped at the end; the prefix's settings changed here are put back.
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
src=${MATRIX_SOURCE_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all

if [ -z "${MATRIX_UNDER_XVFB:-}" ]; then
  if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "SKIP: Xvfb or xdotool is not installed, so the Windows desktop test cannot run" >&2
    exit 77
  fi
  set +e
  MATRIX_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" bash "$0" "$@"
  status=$?
  set -e
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  exit "$status"
fi

quiet() { "$@" < /dev/null > /dev/null 2>&1; }

# The part that runs in its own mount namespace (3.): the program folder is made read-only
# there, and Wine's server started there sees it so.
if [ "${1:-}" = --read-only-folder ]; then
  inst=$2
  mount --bind "$inst" "$inst"
  mount -o remount,bind,ro "$inst"
  ! touch "$inst/.writable" 2>/dev/null || fail "the program folder is still writable under its read-only mount"
  restart_wine
  set +e
  bash "$src/tests/wine/dialog_desktop_wine.sh" --read-only-steps "$inst"
  status=$?
  set -e
  quiet wineserver -k || true
  exit "$status"
fi

work=${MATRIX_DESKTOP_WORK:-$(mktemp -d)}
export MATRIX_DESKTOP_WORK=$work
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  quiet wineserver -k || true
  wait 2>/dev/null || true
  if [ "${1:-}" != keep ]; then
    quiet wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f || true
    quiet wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f || true
    quiet wineserver -k || true
    rm -rf "$work"
  fi
}
fail_details() { show_visible_windows; }
unixpath() { winepath -u "$1" 2>/dev/null; }

device_pid=""
start_device() {
  start_wine_device "$@"
  restart_wine
}

win=""
app_pid=""
start_program() {
  local inst=$1
  # The shell's taskbar list is Wine's stub, which says what it is told, once, on stderr.
  WINEDEBUG=-all,fixme+explorerframe wine "$inst/matrix-update.exe" < /dev/null > "$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 60 xdotool search --onlyvisible --name '^RED udized idirediz$' || fail "the window did not appear"
  win=$(xdotool search --onlyvisible --name '^RED udized idirediz$' | head -n 1)
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  win_x=$X win_y=$Y win_width=$WIDTH win_height=$HEIGHT
}
click_choose() { click 178 175; }
# choose_file TEXT: the file chooser, answered with TEXT typed into its name field.
choose_file() {
  click_choose
  wait_for 30 xdotool search --onlyvisible --name '^Open$' || fail "the file chooser did not open"
  local chooser
  chooser=$(xdotool search --onlyvisible --name '^Open$' | head -n 1)
  xdotool windowfocus --sync "$chooser" 2>/dev/null || true
  sleep 0.5
  xdotool type --delay 15 "$1"
  xdotool key Return
  wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Open\$'" || fail "the file chooser did not take $1"
  sleep 0.3
}
setting() { tr -d '\r' < "$1" | grep -qxF -- "$2"; }

# The read-only steps, run by the namespace part above with the mounted folder.
if [ "${1:-}" = --read-only-steps ]; then
  trap 'cleanup keep' EXIT
  inst=$2
  appdata=$(unixpath "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")
  temp=$(unixpath "$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')")
  [ -d "$appdata" ] && [ -d "$temp" ] || fail "cannot find the user's folders ($appdata, $temp)"
  rm -rf "$appdata/matrix-update" "$temp/matrix-update"
  start_program "$inst"
  no_box || fail "a box came up at start-up in a read-only folder"
  [ -f "$temp/matrix-update/matrix-calm.qss" ] || fail "the skin file is not in the user's temporary folder"
  [ ! -e "$inst/matrix-calm.qss" ] || fail "the skin file was written into the read-only folder"
  finish_program
  [ ! -e "$temp/matrix-update/matrix-calm.qss" ] || fail "the skin file outlived the program"
  # The port of the setting.ini left in the folder, kept in the user's own one now.
  setting "$appdata/matrix-update/setting.ini" "ComPort=7" ||
    fail "%APPDATA%\\matrix-update\\setting.ini does not hold the folder's ComPort=7: $(cat "$appdata/matrix-update/setting.ini" 2>&1)"
  setting "$inst/setting.ini" "ComPort=7" || fail "the folder's own setting.ini changed"
  rm -rf "$appdata/matrix-update"
  echo "dialog_desktop_wine: read-only program folder passed"
  exit 0
fi

trap cleanup EXIT
scripts/make-windows-dist.sh "$(dirname "$winbin")" "$work/dist" > /dev/null
inst="$work/dist/matrix-update-windows"
[ -f "$inst/matrix-update.exe" ] || fail "the Windows folder has no matrix-update.exe"
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR" "$work/patterns"
head -c 36 "$src/res/sample.bin" > "$work/patterns/three.bin"
quiet wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f || fail "cannot set 144 dpi"
start=$(date +%s)

# 1. Placement: Wine draws the frame itself here (no window manager on the display), so the
# window as the X server sees it is the whole dialog, caption included.
quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || fail "cannot have Wine draw the frame"
restart_wine
start_program "$inst"
[ "$win_x" -ge 0 ] && [ "$win_y" -ge 0 ] && [ $(( win_x + win_width )) -le 800 ] && [ $(( win_y + win_height )) -le 600 ] ||
  fail "the dialog (${win_width}x${win_height} at $win_x,$win_y) is not inside the 800x600 work area"
left=$win_x right=$(( 800 - win_x - win_width )) top=$win_y bottom=$(( 600 - win_y - win_height ))
[ $(( left - right )) -le 2 ] && [ $(( right - left )) -le 2 ] && [ $(( top - bottom )) -le 2 ] && [ $(( bottom - top )) -le 2 ] ||
  fail "the dialog is not centred: $left px left, $right right, $top above, $bottom below"
# Moved by its caption: taken 10 px below its top edge and dragged 40 px to the left and 20 up.
xdotool mousemove $(( win_x + win_width / 2 )) $(( win_y + 10 )) mousedown 1 \
  mousemove $(( win_x + win_width / 2 - 20 )) $(( win_y )) mousemove $(( win_x + win_width / 2 - 40 )) $(( win_y - 10 )) mouseup 1
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$win")"
[ "$X" = $(( win_x - 40 )) ] && [ "$Y" = $(( win_y - 20 )) ] ||
  fail "the dialog did not follow its caption: at $X,$Y after a drag from $win_x,$win_y"
kill "$app_pid" 2>/dev/null || true
quiet wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f || true
restart_wine
rm -f "$inst/matrix-calm.qss"
echo "dialog_desktop_wine: placement at 144 dpi on 800x600 passed"

# 2. A whole update with the file taken from the chooser: the taskbar button is told of it; the
# chooser's folder is kept and the next start opens the chooser there.
start_device whole --reply ok --once
start_program "$inst"
type_into 140 93 "COM7"
choose_file "$(winpath "$work/patterns/three.bin")"
click_start
wait_for 60 bash -c "! kill -0 $device_pid 2>/dev/null" || fail "the update did not end"
answer_box "closing instruction"
[ "$(grep -c '^record ' "$work/whole.log")" = 3 ] || fail "the device did not get the chosen file's 3 records"
# Wine's taskbar list keeps nothing and says only the first of each call it is given.
grep -Eq 'taskbar_list_SetProgressState .*hwnd 0*[1-9A-Fa-f][0-9A-Fa-f]*, flags 2 ' "$work/app.out" ||
  fail "the taskbar button was not set to show progress: $(grep -i taskbar "$work/app.out")"
grep -Eq 'taskbar_list_SetProgressValue .*ullTotal 24 ' "$work/app.out" ||
  fail "the taskbar button's progress is not of the file's 36 bytes: $(grep -i taskbar "$work/app.out")"
finish_program
setting "$inst/setting.ini" "LastFolder=$(winpath "$work/patterns")" ||
  fail "setting.ini does not keep the chooser's folder: $(cat "$inst/setting.ini")"
setting "$inst/setting.ini" "ComPort=7" || fail "setting.ini does not hold ComPort=7"

# After a restart the chooser opens in that folder: the bare file name is found there.
start_device again --reply ok --once
start_program "$inst"
choose_file "three.bin"
click_start
wait_for 60 bash -c "! kill -0 $device_pid 2>/dev/null" || fail "the update from the kept folder did not end"
answer_box "closing instruction after a restart"
[ "$(grep -c '^record ' "$work/again.log")" = 3 ] || fail "the chooser did not open in the kept folder"
finish_program
echo "dialog_desktop_wine: taskbar progress and the chooser's folder passed"

# 3. A program folder that cannot be written, with the setting.ini of its portable days.
printf '[Connection]\r\nComPort=7\r\n' > "$inst/setting.ini"
if ! unshare -m --propagation private true 2>/dev/null; then
  echo "SKIP: no private mount namespace here (not root), so the read-only folder is not tested" >&2
  exit 77
fi
quiet wineserver -k || true
unshare -m --propagation private bash "$0" --read-only-folder "$inst" ||
  fail "the read-only program folder's steps failed"
restart_wine
echo "dialog_desktop_wine: passed ($(( $(date +%s) - start )) s in all)"
