#!/usr/bin/env bash
# The skinned look of the Windows dialog, under Wine on a virtual display. First the skin
# library's own tests (matrix_skin_tests.exe: every control in the skin, message boxes, the GDI
# objects given back at exit). Then matrix-update.exe from the Windows folder people copy, with
# matrixskin.dll beside it, against the Linux device simulator as COM7: the screen shows the
# dialog's background, its buttons and the progress bar in the skin's colours, the drop-down's
# arrow stands out from its box, the focused button differs from the unfocused one, the boxes
# are skinned, and a whole update runs. Last the same update with the library removed: the
# ordinary look, and nothing else changes. Pixels are read from the display's framebuffer file.
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones).
# MATRIX_SKIN_SCREENSHOT=FILE.png keeps a picture of the skinned dialog after its update.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
src=${MATRIX_SOURCE_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all

if [ -z "${MATRIX_UNDER_XVFB:-}" ]; then
  if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "SKIP: Xvfb or xdotool is not installed, so the skinned dialog cannot be tested" >&2
    exit 77
  fi
  fb=$(mktemp -d)
  set +e
  MATRIX_UNDER_XVFB=1 MATRIX_FB_DIR="$fb" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -fbdir $fb" bash "$0" "$@"
  status=$?
  set -e
  rm -rf "$fb"
  # The server was started for a display that is gone now: the next programs need a new one.
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  exit "$status"
fi

work=$(mktemp -d)
pids=()
app_pid=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"
screen="$MATRIX_FB_DIR/Xvfb_screen0"
px() { python3 "$src/tests/wine/screen_pixels.py" "$@"; }

# What the screen showed, kept beside the screenshot asked for.
fail_details() {
  [ -f "$screen" ] && px grab "$screen" 0 0 1024 768 "$work/fail.png" 2>/dev/null &&
    cp "$work/fail.png" "${MATRIX_SKIN_SCREENSHOT:-/tmp/skin_wine}-fail.png" 2>/dev/null || true
}

# 1. The library's own tests. Their windows are not handed to a window manager (there is none
# here), so that closing one does not wait for it.
restart_wine
wine reg add 'HKCU\Software\Wine\AppDefaults\matrix_skin_tests.exe\X11 Driver' /v Managed /d N /f \
  < /dev/null > /dev/null 2>&1 || fail "cannot set up the library's tests"
set +e
wine "$winbin/matrix_skin_tests.exe" --gtest_brief=1 < /dev/null 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
[ "$status" = 0 ] || fail "the skin library's tests exited $status"
echo "skin_wine: the library's tests passed"

scripts/make-windows-dist.sh "$(dirname "$winbin")" "$work/dist" > /dev/null
inst="$work/dist/matrix-update-windows"
[ -f "$inst/matrixskin.dll" ] || fail "the Windows folder has no matrixskin.dll"

device_pid=""
start_device() {
  start_wine_device "$@"
  link_chinese_fonts
  restart_wine
}

win=""
declare -A where
# Where the dialog and its controls are, in screen pixels, as Windows has placed them.
find_layout() {
  local kind id x y w h
  where=()
  while read -r kind id x y w h; do
    if [ "$kind" = client ]; then where[client]="$id $x $y $w"; else where[$id]="$x $y $w $h"; fi
  done < <(wine "$winbin/window_probe.exe" 'RED udized idirediz' < /dev/null 2>/dev/null | tr -d '\r')
  [ -n "${where[client]:-}" ] && [ -n "${where[1084]:-}" ]
}
start_program() {
  wine "$inst/matrix-update.exe" < /dev/null > "$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 60 xdotool search --onlyvisible --name '^RED udized idirediz$' || fail "the window did not appear"
  win=$(xdotool search --onlyvisible --name '^RED udized idirediz$' | head -n 1)
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  win_width=$WIDTH
  win_height=$HEIGHT
  find_layout || fail "cannot find the dialog's controls"
}

# inside ID: the control's rectangle less 3 pixels all round (its frame and focus ring).
inside() { local x y w h; read -r x y w h <<< "${where[$1]}"; echo $(( x + 3 )) $(( y + 3 )) $(( w - 6 )) $(( h - 6 )); }
colour_of() { px dominant "$screen" $(inside "$1"); }
distance() {
  python3 -c 'import sys; a, b = (bytes.fromhex(c[1:]) for c in sys.argv[1:]); print(sum(abs(p - q) for p, q in zip(a, b)))' "$1" "$2"
}
# expect_colour WHAT SEEN WANTED: the skin's colour exactly (a step of rounding allowed).
expect_colour() { [ "$(distance "$2" "$3")" -le 3 ] || fail "$1 is $2, not the skin's $3"; }
expect_other() { [ "$(distance "$2" "$3")" -ge 90 ] || fail "$1 is $2, still the skin's $3"; }

records=$(( $(stat -c %s "$src/res/sample.bin") / 12 ))
cp "$src/res/sample.bin" "$work/pattern.bin"
caption_after="點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 $records 行資料..."

# A whole update, as dialog_wine.sh runs it; ends with the closing box answered.
run_update() {
  local name=$1
  type_into 140 93 "COM7"
  type_into 106 156 "$(winpath "$work/pattern.bin")"
  click 130 226
  wait_for 120 bash -c "! kill -0 $device_pid 2>/dev/null || xdotool search --onlyvisible --name '^matrix-update\$'" ||
    fail "the update did not end"
  wait_for 60 xdotool search --onlyvisible --name '^matrix-update$' || fail "no closing box"
  sleep 0.5
  local box
  box=$(xdotool search --onlyvisible --name '^matrix-update$' | head -n 1)
  box_button=""
  local line
  line=$(wine "$winbin/window_probe.exe" 'matrix-update' < /dev/null 2>/dev/null | tr -d '\r' | grep '^control 1 ' || true)
  [ -n "$line" ] && box_button=$(px dominant "$screen" $(set -- $line; echo $(( $3 + 3 )) $(( $4 + 3 )) $(( $5 - 6 )) $(( $6 - 6 ))))
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --window "$box" Return
  wait_for 10 no_box || fail "the closing box did not close"
  sleep 0.5
  [ "$(xdotool getwindowname "$win")" = "$caption_after" ] || fail "unexpected caption: $(xdotool getwindowname "$win")"
  [ "$(grep -c '^record ' "$work/$name.log" || true)" -ge "$records" ] || fail "the device did not log every record"
  grep -q "end of transfer" "$work/$name.log" || fail "the device got no end-of-transfer byte"
}

# 2. Skinned.
start_device skinned --reply ok --once
start_program
eval "$(px palette "$inst/matrix-calm.qss")"
read -r cx cy cw ch <<< "${where[client]}"
read -r bx _ _ _ <<< "${where[1004]}"
# Left of the banner and the group boxes there is nothing but the dialog's background.
expect_colour "the dialog's background" "$(px dominant "$screen" $(( cx + 1 )) $(( cy + ch / 4 )) $(( bx - cx - 2 )) $(( ch / 2 )))" "$window"
expect_colour "離開" "$(colour_of 1085)" "$button"
expect_colour "開始更新, the default button," "$(colour_of 1084)" "$accent"
expect_colour "the empty progress bar" "$(colour_of 1087)" "$base"
# The drop-down's arrow: its button is the square at the right end of the box.
read -r x y w h <<< "${where[1017]}"
arrow=$(px standout "$screen" $(( x + w - h + 2 )) $(( y + 2 )) $(( h - 4 )) $(( h - 4 )) "$base" 90)
[ "$arrow" -ge 8 ] || fail "the drop-down's arrow does not stand out from its box ($arrow pixels)"
run_update skinned
[ -n "$box_button" ] || fail "the closing box's button was not found"
expect_colour "the closing box's button" "$box_button" "$accent"
expect_colour "the full progress bar" "$(colour_of 1087)" "$accent"
if [ -n "${MATRIX_SKIN_SCREENSHOT:-}" ]; then
  # The picture without the mouse pointer on it.
  xdotool mousemove 1020 760
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  px grab "$screen" "$X" "$Y" "$WIDTH" "$HEIGHT" "$MATRIX_SKIN_SCREENSHOT"
fi
# The focus mark: 選擇檔案 before and after Tab brings the focus to it from the file field.
click 106 156
read -r x y w h <<< "${where[1016]}"
px grab "$screen" "$x" "$y" "$w" "$h" "$work/unfocused.png"
xdotool key Tab
sleep 0.5
px grab "$screen" "$x" "$y" "$w" "$h" "$work/focused.png"
changed=$(px differ "$work/unfocused.png" "$work/focused.png" 90)
[ "$changed" -ge $(( w + h )) ] || fail "the focused button looks like the unfocused one ($changed pixels differ)"
finish_program
echo "skin_wine: the skinned dialog passed"

# 3. The library removed: the ordinary look, the same update.
rm "$inst/matrixskin.dll"
start_device plain --reply ok --once
start_program
expect_other "開始更新 without the skin" "$(colour_of 1084)" "$accent"
run_update plain
[ -n "$box_button" ] && expect_other "the closing box's button without the skin" "$box_button" "$accent"
expect_other "the full progress bar without the skin" "$(colour_of 1087)" "$accent"
finish_program
[ ! -e "$inst/matrix-calm.qss" ] || fail "the skin file outlived the program"
echo "skin_wine: the ordinary look without the library passed"
