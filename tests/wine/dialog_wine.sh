#!/usr/bin/env bash
# The Windows person test: matrix-update.exe from the Windows folder people copy, under Wine
# on a virtual display, driven with xdotool as a person would, against the Linux device
# simulator mapped as COM7. A whole update; a file that is not a pattern file; a record without
# reply, then a cancel by a second press; a device lost mid-transfer. Every box is read by
# read_box.exe (tests/wine/read_box.cpp), run in the same prefix while the box is up: the
# closing instruction only after a complete update, the warning after the others. Wine keeps
# the display its server started with, so the server is restarted inside this script's display
# and stopped at the end.
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones,
# read_box.exe among them).
set -euo pipefail
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
src=${MATRIX_SOURCE_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all

if [ -z "${MATRIX_UNDER_XVFB:-}" ]; then
  if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "SKIP: Xvfb or xdotool is not installed, so the Windows person test cannot run" >&2
    exit 77
  fi
  # The screen is also kept in a file (-fbdir), so the test can read what it shows.
  fb=$(mktemp -d)
  set +e
  MATRIX_UNDER_XVFB=1 MATRIX_FB_DIR="$fb" xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -fbdir $fb" bash "$0" "$@"
  status=$?
  set -e
  rm -rf "$fb"
  # The server was started for a display that is gone now: the next programs need a new one.
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  exit "$status"
fi

work=$(mktemp -d)
# The dialog keeps its update log where an operator's would be (read at the end).
unset MATRIX_UPDATE_LOG
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

source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
fail_details() {
  [ -n "${MATRIX_WINE_SCREENSHOT:-}" ] && import -window root "${MATRIX_WINE_SCREENSHOT%.png}-fail.png"
  show_visible_windows
}

# The folder people copy, laid out by the same script as the zip.
scripts/make-windows-dist.sh "$(dirname "$winbin")" "$work/dist" > /dev/null
inst="$work/dist/matrix-update-windows"
[ -f "$inst/matrix-update.exe" ] || fail "the Windows folder has no matrix-update.exe"
[ -f "$winbin/read_box.exe" ] || fail "the Windows build has no read_box.exe to read the boxes with"
# The box reader is ours, for this test: never in what people get.
[ ! -e "$inst/read_box.exe" ] && ! unzip -l "$work/dist/matrix-update-windows.zip" | grep -qi read_box &&
  ! msiinfo export "$work"/dist/matrix-update-*-x64.msi File | grep -qi read_box ||
  fail "read_box.exe is shipped in the Windows folder, zip or installer"

# start_device NAME ARGS...: the simulator as COM7, mapped into Wine; the server is restarted
# on this display so that it reads the mapping.
device_pid=""
start_device() {
  start_wine_device "$@"
  link_chinese_fonts
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  wineserver -p < /dev/null > /dev/null 2>&1
  wineboot < /dev/null > /dev/null 2>&1
}

win=""
start_program() {
  wine "$inst/matrix-update.exe" "$@" < /dev/null > "$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 60 xdotool search --onlyvisible --name '^RED udized idirediz$' || fail "the window did not appear"
  win=$(xdotool search --onlyvisible --name '^RED udized idirediz$' | head -n 1)
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  win_width=$WIDTH
  win_height=$HEIGHT
}
caption() { xdotool getwindowname "$win"; }
box_count() { xdotool search --onlyvisible --name '^matrix-update$' 2>/dev/null | wc -l; }
# read_box WHAT: the text of the one message box the dialog shows, in $box_text, as
# read_box.exe reads it from the box's own text control while the box is up.
read_box() {
  local status=0
  box_text=$(wine "$winbin/read_box.exe" matrix-update.exe 60 < /dev/null 2> "$work/read_box.err") || status=$?
  [ "$status" = 0 ] || fail "the text of the box could not be read: $1 (read_box.exe: $(tr -d '\r' < "$work/read_box.err"))"
}
# expect_closing WHAT / expect_warning WHAT WORDS / expect_refusal WHAT TEXT: the box up now is
# the closing instruction, the warning that the update did not complete (holding WORDS, never a
# word of how to finish), or the refusal of a file; then it is answered.
expect_closing() {
  read_box "$1"
  [ "$box_text" = "請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新" ] || fail "$1: not the closing instruction: $box_text"
  answer_box "$1"
}
expect_warning() {
  read_box "$1"
  [[ "$box_text" == "更新未完成:"*"$2"*"再按「開始更新」傳送整個檔案。" ]] || fail "$1: not the warning holding '$2': $box_text"
  [[ "$box_text" != *"完成更新"* ]] || fail "$1: the warning tells how to finish: $box_text"
  answer_box "$1"
}
expect_refusal() {
  read_box "$1"
  [[ "$box_text" == *"$2"* ]] || fail "$1: not the refusal '$2': $box_text"
  answer_box "$1"
}
# CPU seconds (user + system, in clock ticks) the program's Wine process has used.
cpu_ticks() {
  local pid
  pid=$(pgrep -f 'matrix-update\.exe' | head -n 1)
  [ -n "$pid" ] || { echo 0; return; }
  awk '{ print $14 + $15 }' "/proc/$pid/stat"
}

start=$(date +%s)
skin="$inst/matrix-calm.qss"
records=$(( $(stat -c %s "$src/res/sample.bin") / 12 ))
cp "$src/res/sample.bin" "$work/pattern.bin"

# 1. A whole update: every record and the end byte, the closing box, the exact caption.
start_device whole --reply ok --once
start_program "$(winpath "$work/pattern.bin")"
[ -f "$skin" ] || fail "the skin file is not beside the running program"

# The file chosen on the command line opens the pattern's preview beside the dialog, without
# taking the activation; its dots stand where the file's values put them.
wait_for 20 xdotool search --onlyvisible --name '^預覽圖樣 - pattern.bin$' || fail "the preview did not open for the file given"
preview=$(xdotool search --onlyvisible --name '^預覽圖樣 - pattern.bin$' | head -n 1)
"$bin/matrixctl" pattern decode "$work/pattern.bin" > "$work/pattern.csv"
eval "$(xdotool getwindowgeometry --shell "$win")"
dialog_right=$(( X + WIDTH ))
eval "$(xdotool getwindowgeometry --shell "$preview")"
[ "$X" -ge "$dialog_right" ] || fail "the preview (at x $X) lies over the dialog (which ends at x $dialog_right)"
[ "$(xdotool getwindowfocus 2>/dev/null)" != "$preview" ] || fail "the preview took the activation"
# Its caption, which Wine draws itself here, is left out: only the window's client area counts.
dots() { python3 "$src/tests/wine/screen_pixels.py" dots "$MATRIX_FB_DIR/Xvfb_screen0" "$X" $(( Y + 30 )) "$WIDTH" $(( HEIGHT - 30 )) '#0072b2' "$work/pattern.csv"; }
wait_for 5 dots || fail "the preview does not show the file's dots: $(dots 2>&1)"
no_box || fail "a message box came up at start-up"
type_into 140 93 "COM7"
type_into 106 156 "$(winpath "$work/pattern.bin")"
click_start
update_over() { ! kill -0 "$device_pid" 2>/dev/null || ! no_box; }
wait_for 120 update_over || fail "the update did not end"
# The box may come up while the device, which has answered the end-of-transfer byte, is still
# on its way out; what counts is that the byte reached it before the box.
grep -q "end of transfer" "$work/whole.log" || fail "a box came before the device got the end-of-transfer byte"
wait_for 10 bash -c "! kill -0 $device_pid 2>/dev/null" || fail "the device did not end after the end-of-transfer byte"
expect_closing "closing instruction"
sleep 1
no_box || fail "a second box followed the closing instruction"
[ "$(caption)" = "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 $records 行資料..." ] || fail "unexpected caption: $(caption)"
[ -n "${MATRIX_WINE_SCREENSHOT:-}" ] && import -window root "$MATRIX_WINE_SCREENSHOT"
# Enter and Escape neither close the dialog nor press 開始更新 (the device is gone: a start
# would change the caption or bring a box).
click 106 156
xdotool key Return Escape
sleep 1
kill -0 "$app_pid" 2>/dev/null && xdotool getwindowname "$win" >/dev/null 2>&1 || fail "Enter or Escape closed the dialog"
[ "$(caption)" = "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 $records 行資料..." ] && no_box ||
  fail "Enter or Escape started an update: $(caption)"
finish_program
[ "$(records_received whole)" -ge "$records" ] || fail "the device did not log every record"
grep -q "end of transfer" "$work/whole.log" || fail "the device log shows no end-of-transfer byte"
[ ! -e "$skin" ] || fail "the skin file outlived the program"
tr -d '\r' < "$inst/setting.ini" | grep -qx "ComPort=7" || fail "setting.ini does not hold ComPort=7"
echo "dialog_wine: whole update passed ($(( $(date +%s) - start )) s)"

# 2. A CSV file renamed .bin is refused before the port opens: the device gets nothing. Then,
# on the same device, a record it never answers (five sends of 16.2 s), and a cancel by a
# second press during the next: the device still gets the end byte, and the warning says both.
# The first file comes as the program's argument (matrix-update.exe FILE), straight into the
# file field.
head -c 24 "$src/res/sample.bin" > "$work/two.bin"
printf 'x,y,i1,i2,i3\n1.5,2.25,1,2,3\n' > "$work/rows.bin"
start_device silent --reply silent:9 --once
start_program "$(winpath "$work/rows.bin")"
click_start
expect_refusal "a CSV file renamed .bin" "rows.bin 不是圖樣檔案:第 1 筆資料(第 0 位元組起)的開頭是 0x78,應為 0xC1。"
[ "$(caption)" = "RED udized idirediz" ] || fail "a refused file started an update: $(caption)"
sleep 0.5
[ ! -s "$work/silent.log" ] || { cat "$work/silent.log" >&2; fail "the device got bytes of a refused file"; }

type_into 106 156 "$(winpath "$work/two.bin")"
click_start
wait_for 30 bash -c "xdotool getwindowname $win | grep -q 傳送第0/2" || fail "the transfer did not start: $(caption)"
wait_for 120 bash -c "xdotool getwindowname $win | grep -q 傳送第1/2" || fail "record 0 was not given up: $(caption)"
click_start
wait_for 30 bash -c "! kill -0 $device_pid 2>/dev/null" || fail "a cancel did not send the end-of-transfer byte"
expect_warning "a record without reply, then a cancel" "已取消更新,傳輸埠 COM7 的裝置只確認收到 0/2 筆資料,其中 1 筆無回應"
caption | grep -q "已取消更新" || fail "the caption does not tell of the cancel: $(caption)"
finish_program
echo "dialog_wine: refused file, record without reply and cancel passed ($(( $(date +%s) - start )) s)"

# 3. A device killed mid-transfer: one box naming the port, and the program does not spin.
start_device lost --reply ok --pace 9600
start_program
type_into 106 156 "$(winpath "$work/pattern.bin")"
click_start
wait_for 30 bash -c "xdotool getwindowname $win | grep -q 傳送第" || fail "the transfer did not start: $(caption)"
kill "$device_pid"
wait_for 20 xdotool search --onlyvisible --name '^matrix-update$' || fail "no box told of the lost device"
sleep 1
[ "$(box_count)" = 1 ] || fail "expected one box for the lost device, saw $(box_count)"
before=$(cpu_ticks)
sleep 2
after=$(cpu_ticks)
[ $(( after - before )) -lt 50 ] || fail "the program used $(( after - before )) ticks of CPU in 2 s while a box was up"
expect_warning "lost device" "傳輸埠 COM7 連線中斷,裝置只確認收到 "
sleep 1
no_box || fail "a second box followed the lost device's"
finish_program
echo "dialog_wine: lost device passed ($(( $(date +%s) - start )) s in all)"

# The update log the dialog wrote beside itself in the portable folder (one line per update,
# the refused one too), and matrixctl.exe reading the same log.
sum=$(sha256sum "$work/pattern.bin" | cut -d' ' -f1)
python3 - "$inst/updates.log" "$(winpath "$work/pattern.bin")" "$sum" <<'PY' || fail "the portable folder's update log does not hold the dialog's updates"
import json, sys
L = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
checks = [
    any(l["outcome"] == "complete" and l["file"] == sys.argv[2] and l["sha256"] == sys.argv[3] for l in L),
    all(l["front_end"] == "dialog" and l["port"] == "COM7" for l in L),
    any(l["outcome"] == "refused" and "is not a pattern file" in (l["reason"] or "") for l in L),
    any(l["outcome"] == "cancelled" and l["unanswered"] == 1 and l["resends"] == 4 for l in L),
    any(l["outcome"] == "link lost" for l in L),
]
if not all(checks):
    sys.exit("update log: checks %s failed:\n%s" % (checks, "\n".join(map(str, L))))
PY
wine "$inst/matrixctl.exe" log --port 7 < /dev/null > "$work/log.out" 2> "$work/log.err" || fail "matrixctl.exe log failed: $(cat "$work/log.err")"
tr -d '\r' < "$work/log.out" | grep -q "COM7 *complete *$(( $(stat -c %s "$work/pattern.bin") / 12 ))/" ||
  { cat "$work/log.out" "$work/log.err" >&2; fail "matrixctl.exe log does not show the whole update"; }
echo "dialog_wine: update log passed"
