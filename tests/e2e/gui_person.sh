#!/usr/bin/env bash
# The whole program as a person uses it: the installed matrix-update on a real X server
# (Xvfb), driven with real keyboard and mouse events (xdotool), against simulated devices
# registered as COM ports. Six runs: a whole update, failed starts, a file that is not a
# pattern file, a double-click, a cancel, a record without reply and a kill mid-update, the port
# busy, the skin library gone, a folder the user cannot write, and the package's layout run by
# an ordinary user. The ending's box is read (its text selected with a triple click and copied
# with Ctrl+C): the closing instruction only after a complete update, the warning after a cancel,
# a record without reply and a lost device, the refusal of a file that is not a pattern file.
# Every wait is bounded and a failure names the step that timed out.
set -euo pipefail
bin=${MATRIX_BIN_DIR:?}
build=${MATRIX_BUILD_DIR:?}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
fail_details() {
  # What was on the screen, and what the program said, to tell a slow machine from a fault.
  show_visible_windows
  [ -s "$work/app.out" ] && { echo "matrix-update said:"; cat "$work/app.out"; }
  # A display server that went away or refused a client explains every window that did not come.
  if [ -n "${xvfb_pid:-}" ]; then
    kill -0 "$xvfb_pid" 2>/dev/null || echo "the display server (Xvfb, pid $xvfb_pid) is gone"
    [ -s "$work/xvfb.log" ] && { echo "Xvfb said:"; tail -n 20 "$work/xvfb.log"; }
  fi
  return 0
}

if [ ! -x "$bin/matrix-update" ]; then
  echo "SKIP: matrix-update is not built here (MATRIX_BUILD_GUI is off)" >&2
  exit 77
fi
for tool in Xvfb xdotool xclip; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done

# The dialog keeps its update log where an operator's would be (read at the end), not in the
# test run's own file.
unset MATRIX_UPDATE_LOG
# The portable folder, exactly as cmake --install lays it out.
inst="$work/inst"
cmake --install "$build" --prefix "$inst" >/dev/null || fail "cmake --install failed"
for f in matrix-update matrixctl libmatrixskin.so matrix-update.desktop matrix-update.svg; do
  [ -e "$inst/$f" ] || fail "the installed folder has no $f"
done
grep -qxF "Exec=\"$inst/matrix-update\" %f" "$inst/matrix-update.desktop" || fail "the desktop entry does not start the installed program"

# A display of our own: Xvfb picks a free number and tells it on descriptor 5.
# Without key auto-repeat: on a loaded machine a key held between xdotool's press and release
# would repeat into the next box that comes up and answer it unseen.
# Only this test's programs hold its cookie: a program of someone else's that takes our display
# for its own (a test of another checkout on the same machine) cannot connect and disturb it.
# The server takes every cookie of its file, whatever display an entry names; the clients look
# for their display's, added once the number is known.
export XAUTHORITY="$work/Xauthority"
cookie=$(mcookie)
xauth -q -f "$XAUTHORITY" add :0 . "$cookie" 2>/dev/null
# Its screen is also kept in a file (-fbdir), so the test can read what it shows. It never
# resets (-noreset): a server resets when its last client leaves, and a program that connects
# in that moment, between two runs on a loaded machine, is refused ("could not connect").
Xvfb -displayfd 5 -auth "$XAUTHORITY" -screen 0 1280x1024x24 -nolisten tcp -r -noreset -fbdir "$work" 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
pids+=("$xvfb_pid")
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
  echo "SKIP: Xvfb could not start, so the person test cannot run:" >&2
  cat "$work/xvfb.log" >&2
  exit 77
fi
export DISPLAY=":$(head -n 1 "$work/display")"
xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"
export QT_QPA_PLATFORM=xcb
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"
unset MATRIX_STARTUP_PROBE
# Under LeakSanitizer (the sanitizer build of this test) the system libraries a desktop Qt
# program loads keep some allocations until exit; those are not ours to fix. Our own code is
# still checked.
cat > "$work/lsan.supp" <<'SUPP'
leak:libdbus-1.so
leak:libfontconfig.so
SUPP
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# While the program runs, its end stops a wait at once: nothing it should show can come any more.
wait_hopeless() {
  [ -n "${app_pid:-}" ] && [ -z "${app_may_end:-}" ] && ! kill -0 "$app_pid" 2>/dev/null || return 1
  echo "matrix-update ended while the test waited; its output:" >&2
  cat "$work/app.out" >&2 || true
}

# stays_without_box SECONDS: no message box comes up for that long.
stays_without_box() {
  local deadline=$(( $(date +%s) + $1 ))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    no_box || return 1
    sleep 0.1
  done
}

# start_device NAME PORT ARGS...: a simulated device registered as COM PORT, logging to
# $work/NAME.log; its pid lands in $device_pid.
start_device() {
  local name=$1 port=$2 line fd; shift 2
  mkfifo "$work/$name.out"
  "$bin/matrixctl" simulate --port "$port" "$@" > "$work/$name.out" 2> "$work/$name.log" &
  device_pid=$!
  pids+=("$device_pid")
  exec {fd}< "$work/$name.out"
  read -r -t 10 line <&"$fd" || fail "simulator on COM$port did not start"
  device_tty=${line#* }
}

app_pid=""
win=""
# start_program DIR: starts DIR/matrix-update and waits for its window.
start_program() {
  launch_program "$1/matrix-update"
  wait_for_dialog
}

launch_program() {
  app_may_end=""
  "$@" > "$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
}

# The dialog's window; its caption changes during an update, so it is found by the program's
# window class once it has been seen by its title.
wait_for_dialog() {
  wait_for 30 xdotool search --onlyvisible --name '^RED udized idirediz$' || fail "the window did not appear"
  win=$(xdotool search --onlyvisible --name '^RED udized idirediz$' | head -n 1)
  # Mapped is not yet ready for input: wait until the window has its size and place.
  wait_for 10 xdotool getwindowgeometry "$win" || fail "the window's geometry could not be read"
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$win")"
  win_width=$WIDTH
  win_height=$HEIGHT
}

click_pause=0.2
click_port_field() { click 140 93; }
click_file_field() { click 106 156; }
# choose_file PATH: types PATH over whatever the file field holds.
choose_file() {
  click_file_field
  xdotool key ctrl+a
  xdotool type --delay 10 "$1"
}

# answer_box WHAT: waits for a message box (the program's caption) and presses Enter in it,
# once: a second Enter could answer the next box unseen. Only a box that is still up after a
# long while gets Enter again.
answer_box() {
  wait_for 30 xdotool search --onlyvisible --name '^matrix-update$' || fail "no message box appeared${1:+: $1}"
  local box tries
  for tries in 1 2 3; do
    box=$(xdotool search --onlyvisible --name '^matrix-update$' 2>/dev/null | head -n 1)
    [ -n "$box" ] || return 0
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key Return
    wait_for 10 no_box && return 0
  done
  fail "the message box did not close${1:+: $1}"
}

# read_box WHAT: the text of the message box that is up, in $box_text, read as a person would
# copy it: a triple click selects the text (one paragraph), Ctrl+C copies it. The clipboard is
# given a marker first, so an earlier box's text is never read.
copies=0
read_box() {
  wait_for 30 xdotool search --onlyvisible --name '^matrix-update$' || fail "no message box appeared: $1"
  local box marker tries
  copies=$((copies + 1))
  marker="no copy yet $copies"
  box=$(xdotool search --onlyvisible --name '^matrix-update$' | head -n 1)
  printf '%s' "$marker" | xclip -selection clipboard -i 2>/dev/null
  for tries in 1 2 3 4 5; do
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    eval "$(xdotool getwindowgeometry --shell "$box")"
    # The text stands at the top, right of the icon; the buttons at the bottom.
    xdotool mousemove --window "$box" $(( WIDTH * 3 / 5 )) $(( HEIGHT / 4 )) click --repeat 3 --delay 80 1
    xdotool key ctrl+c
    box_text=$(timeout 5 xclip -selection clipboard -o 2>/dev/null || true)
    [ -n "$box_text" ] && [ "$box_text" != "$marker" ] && return 0
    sleep 0.3
  done
  fail "the text of the box could not be read: $1"
}
# expect_closing WHAT / expect_warning WHAT WORDS: the box up now is the closing instruction, or
# the warning that the update did not complete (holding WORDS, never a word of how to finish);
# then it is answered.
expect_closing() {
  read_box "$1"
  [[ "$box_text" == *"請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新"* ]] || fail "$1: not the closing instruction: $box_text"
  answer_box "$1"
}
expect_warning() {
  read_box "$1"
  [[ "$box_text" == *"更新未完成:"*"$2"*"再按「開始更新」傳送整個檔案。"* ]] || fail "$1: not the warning holding '$2': $box_text"
  [[ "$box_text" != *"完成更新"* ]] || fail "$1: the warning tells how to finish: $box_text"
  answer_box "$1"
}

# caption: the dialog's caption now.
caption() { xdotool getwindowname "$win"; }
caption_matches() { caption | grep -q "$1"; }

finish_program() {
  app_may_end=1
  click_exit
  wait_for 30 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "離開 did not close the program"
  wait "$app_pid" || fail "matrix-update exited with status $?"
}

# device_done PID WHAT: waits for a --once device to end (it has answered the end-of-transfer byte).
device_done() {
  wait_for "${3:-60}" bash -c "! kill -0 $1 2>/dev/null" || fail "the device did not get the end-of-transfer byte: $2"
}

skin="$inst/matrix-calm.qss"
records=$(( $(stat -c %s "$MATRIX_SOURCE_DIR/res/sample.bin") / 12 ))
cp "$MATRIX_SOURCE_DIR/res/sample.bin" "$work/pattern.bin"

# Run 1: a whole update. Another device is listed first, so the operator must pick COM11. The
# file comes as the program's argument (matrix-update FILE), straight into the file field.
start_device other 4 --reply ok
start_device device 11 --reply ok --once
device_once=$device_pid
launch_program "$inst/matrix-update" "$work/pattern.bin"
wait_for_dialog
# The file chosen on the command line opens the pattern's preview beside the dialog, without
# taking the focus; its dots stand where the file's values put them.
preview_name="^預覽圖樣 - pattern.bin\$"
wait_for 10 xdotool search --onlyvisible --name "$preview_name" || fail "the preview did not open for the file given"
preview=$(xdotool search --onlyvisible --name "$preview_name" | head -n 1)
"$bin/matrixctl" pattern decode "$work/pattern.bin" > "$work/pattern.csv"
eval "$(xdotool getwindowgeometry --shell "$win")"
dialog_right=$(( X + WIDTH ))
eval "$(xdotool getwindowgeometry --shell "$preview")"
[ "$X" -ge "$dialog_right" ] || fail "the preview (at x $X) lies over the dialog (which ends at x $dialog_right)"
[ "$(xdotool getwindowfocus)" != "$preview" ] || fail "the preview took the focus"
wait_for 5 python3 "$MATRIX_SOURCE_DIR/tests/wine/screen_pixels.py" dots "$work/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" '#0072b2' "$work/pattern.csv" ||
  fail "the preview does not show the file's dots: $(python3 "$MATRIX_SOURCE_DIR/tests/wine/screen_pixels.py" dots "$work/Xvfb_screen0" "$X" "$Y" "$WIDTH" "$HEIGHT" '#0072b2' "$work/pattern.csv" 2>&1)"
[ -f "$skin" ] || fail "the skin file is not beside the running program"
grep -q libmatrixskin.so "/proc/$app_pid/maps" || fail "the skin library was not brought in"
no_box || fail "a message box came up at start-up"
click_port_field
xdotool key ctrl+a
xdotool type --delay 20 "COM11"
click_start
device_done "$device_once" "whole update"
expect_closing "closing instruction"
stays_without_box 1 || fail "a second box followed the closing instruction"
caption=$(caption)
[ "$caption" = "點矩陣繪圖軟體 傳輸埠:COM11 已傳送共 $records 行資料..." ] || fail "unexpected caption: $caption"
finish_program
[ "$(records_received device)" -ge "$records" ] || { cat "$work/device.log" >&2; fail "the device did not log every record"; }
grep -q "end of transfer" "$work/device.log" || fail "the device log shows no end-of-transfer byte"
[ "$(records_received other)" = 0 ] || fail "the device on COM4 received records"
[ ! -e "$skin" ] || fail "the skin file outlived the program"
grep -qx "ComPort=11" "$inst/setting.ini" || fail "setting.ini does not hold the port used"
echo "run 1: whole update passed"

# Run 2: the dialog as a hurried operator meets it, on a device at the line's own pace.
# A start that fails shows one box and no closing instruction (a file that is not a pattern
# file too, before the port opens); a record without reply, a cancel and a lost device end in
# the warning, never the closing instruction; a double-click on 開始更新
# starts an update and does not cancel it; a later press cancels, and the caption says so;
# a kill mid-update ends the program as 離開 does.
for i in $(seq 1 40); do printf '%s\n' "$i.5,$i.25,$i,$i,$i"; done > "$work/forty.csv"
"$bin/matrixctl" pattern encode "$work/forty.csv" "$work/forty.bin"
for i in $(seq 1 300); do printf '%s\n' "$i.5,$i.25,1,2,3"; done > "$work/long.csv"
"$bin/matrixctl" pattern encode "$work/long.csv" "$work/long.bin"
start_program "$inst"
choose_file "$work/no-such-file.bin"
click_start
answer_box "the file cannot be opened"
stays_without_box 1 || fail "a box followed the failed start (the closing instruction after nothing was sent?)"

# A CSV file renamed .bin: refused, naming the file, before the port is opened; the device
# on the port gets nothing, not even the end-of-transfer byte.
start_device refused 11 --reply ok
cp "$work/forty.csv" "$work/rows.bin"
click_port_field
xdotool key ctrl+a
xdotool type --delay 20 "COM11"
choose_file "$work/rows.bin"
click_start
read_box "a CSV file renamed .bin"
[[ "$box_text" == *"$work/rows.bin 不是圖樣檔案:第 1 筆資料(第 0 位元組起)的開頭是 0x31,應為 0xC1。"* ]] ||
  fail "the CSV file was not refused as it should be: $box_text"
answer_box "a CSV file renamed .bin"
stays_without_box 1 || fail "a second box followed the refused file"
sleep 0.5
[ ! -s "$work/refused.log" ] || { cat "$work/refused.log" >&2; fail "the device got bytes of a refused file"; }
kill "$device_pid"

# A record the device never answers (five sends, 16.2 s each), then a cancel: the warning says
# both, and never how to finish.
head -c 24 "$work/forty.bin" > "$work/two.bin"
start_device mute 11 --reply silent:9 --once
device_once=$device_pid
choose_file "$work/two.bin"
click_start
wait_for 30 caption_matches '^傳送第0/2筆' || fail "the update of two records did not start"
wait_for 120 caption_matches '^傳送第1/2筆' || fail "record 0 was not given up after five sends without reply"
click_start
device_done "$device_once" "cancel after a record without reply"
expect_warning "a record without reply, then a cancel" "已取消更新,傳輸埠 COM11 的裝置只確認收到 0/2 筆資料,其中 1 筆無回應"
caption_matches ' 已取消更新$' || fail "the caption does not tell of the cancel: $(caption)"

# A device lost mid-update: the warning names the port.
start_device lost 11 --reply ok --pace 9600
choose_file "$work/forty.bin"
click_start
wait_for 30 caption_matches '^傳送第' || fail "the update to lose its device did not start"
kill "$device_pid"
expect_warning "a device lost mid-update" "傳輸埠 COM11 連線中斷,裝置只確認收到 "
stays_without_box 1 || fail "a second box followed the lost device's"

start_device double 11 --reply ok --once --pace 9600
device_once=$device_pid
click_port_field
xdotool key ctrl+a
xdotool type --delay 20 "COM11"
choose_file "$work/forty.bin"
xdotool mousemove --window "$win" $(( win_width * 130 / 215 )) $(( win_height * 226 / 240 )) click --repeat 2 --delay 60 1
device_done "$device_once" "double-click"
expect_closing "closing instruction after a double-click"
caption=$(caption)
[ "$caption" = "點矩陣繪圖軟體 傳輸埠:COM11 已傳送共 40 行資料..." ] || fail "a double-click did not run the whole update: $caption"
[ "$(records_received double)" -ge 40 ] || fail "a double-click cancelled the update it started"

start_device cancel 11 --reply ok --once --pace 9600
device_once=$device_pid
choose_file "$work/long.bin"
click_start
wait_for 30 caption_matches '^傳送第' || fail "the update did not start"
sleep 0.8 # longer than a double-click: this press is a cancel
click_start
device_done "$device_once" "cancel"
expect_warning "the warning after a cancel" "已取消更新,傳輸埠 COM11 的裝置只確認收到 "
caption=$(caption)
case "$caption" in
  *" 已取消更新") ;;
  *) fail "the caption of a cancelled update does not say so: $caption" ;;
esac
[ "$(records_received cancel)" -lt 300 ] || fail "the cancel did not stop the update"

start_device killed 11 --reply ok --once --pace 9600
device_once=$device_pid
click_start
wait_for 30 caption_matches '^傳送第' || fail "the update to be killed did not start"
app_may_end=1
kill -TERM "$app_pid"
wait_for 30 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "SIGTERM did not end the program"
wait "$app_pid" || fail "matrix-update ended on SIGTERM with status $?"
device_done "$device_once" "SIGTERM mid-update" 10
grep -q "end of transfer" "$work/killed.log" || fail "SIGTERM did not send the end-of-transfer byte"
[ "$(records_received killed)" -lt 300 ] || fail "SIGTERM did not stop the update"
[ ! -e "$skin" ] || fail "the skin file outlived a SIGTERM"
grep -qx "ComPort=11" "$inst/setting.ini" || fail "setting.ini lost the port on SIGTERM"
echo "run 2: failed start, double-click, cancel and SIGTERM passed"

# Run 3: COM11 is held by another program. The stored port is preselected; the press of
# "開始更新" ends with one box saying the port is busy, and nothing is sent. Once the other
# program lets go, the same press updates the device on that port.
printf '1.5,2.25,1,2,3\n10.125,-3.5,4,5,6\n0,0,0,0,0\n' > "$work/three.csv"
"$bin/matrixctl" pattern encode "$work/three.csv" "$work/three.bin"
start_device busy 11 --reply ok --once
device_once=$device_pid
# Another program takes the port's lock and keeps it until it is killed. (Not this shell:
# every program it starts afterwards would inherit the descriptor and the lock with it.)
( exec 9<"$device_tty" && flock --nonblock 9 && echo locked && exec sleep 300 ) > "$work/holder.out" 2>&1 &
holder=$!
pids+=("$holder")
wait_for 10 grep -q locked "$work/holder.out" || fail "could not take the lock on $device_tty"
start_program "$inst"
click_file_field
xdotool type --delay 10 "$work/three.bin"
click_start
answer_box "port busy"
stays_without_box 1 || fail "a second box followed the busy port"
# matrixctl says who holds it, as the dialog does.
status=0
"$bin/matrixctl" send --port 11 "$work/three.bin" > /dev/null 2> "$work/send.err" || status=$?
[ "$status" = 2 ] || fail "matrixctl send on a busy port exited $status, expected 2"
grep -qF "is busy: sleep (pid $holder) is using it." "$work/send.err" || { cat "$work/send.err" >&2; fail "matrixctl does not name the process holding the port"; }
[ "$(records_received busy)" = 0 ] || fail "records were sent through a busy port"
kill "$holder"
wait "$holder" 2>/dev/null || true
click_start
device_done "$device_once" "the port freed again"
answer_box "closing instruction"
finish_program
[ "$(records_received busy)" = 3 ] || fail "the device did not get the three records"
grep -qx "ComPort=11" "$inst/setting.ini" || fail "setting.ini lost the port"
[ ! -e "$skin" ] || fail "the skin file outlived the program"
echo "run 3: busy port passed"

# Run 4: the skin library removed. The program runs with the ordinary look, says nothing,
# and still updates the device.
rm "$inst/libmatrixskin.so"
start_device plain 11 --reply ok --once
device_once=$device_pid
start_program "$inst"
[ -f "$skin" ] || fail "the skin file was not unpacked"
grep -q libmatrixskin "/proc/$app_pid/maps" && fail "a skin library was loaded"
stays_without_box 1 || fail "a missing skin library was reported"
click_file_field
xdotool type --delay 10 "$work/three.bin"
click_start
device_done "$device_once" "update"
answer_box "closing instruction"
finish_program
[ "$(records_received plain)" = 3 ] || fail "the device did not get the three records"
[ ! -e "$skin" ] || fail "the skin file outlived the program"
echo "run 4: no skin library passed"

# Run 5: installed where the user cannot write, and no configuration or runtime folder of the
# user's to fall back to. The program says once, before its window, that setting.ini cannot
# be saved; it runs unskinned and still updates the device, and neither the update nor the
# end brings the sentence again.
ro="$work/ro"
cmake --install "$build" --prefix "$ro" >/dev/null || fail "cmake --install failed"
if [ "$(id -u)" = 0 ]; then
  # Root writes through any permission bits: give the program a read-only view of the
  # folder in a mount namespace of its own, which goes away with it.
  if unshare -m --propagation private sh -c "mount --bind -o ro '$ro' '$ro'" 2>/dev/null; then
    launcher=(unshare -m --propagation private sh -c 'mount --bind -o ro "$0" "$0" && exec "$0/matrix-update"' "$ro")
  else
    launcher=()
    echo "run 5 skipped: as root without a way to mount the folder read-only" >&2
  fi
else
  chmod a-w "$ro"
  launcher=("$ro/matrix-update")
fi
if [ "${#launcher[@]}" -gt 0 ]; then
  start_device readonly 11 --reply ok --once
  device_once=$device_pid
  XDG_CONFIG_HOME="$ro/config" XDG_RUNTIME_DIR="$ro/run" launch_program "${launcher[@]}"
  answer_box "setting.ini cannot be saved"
  wait_for_dialog
  click_port_field
  xdotool key ctrl+a
  xdotool type --delay 20 "COM11"
  click_file_field
  xdotool type --delay 10 "$work/three.bin"
  click_start
  device_done "$device_once" "update"
  answer_box "closing instruction"
  stays_without_box 1 || fail "setting.ini was reported more than once"
  finish_program
  [ "$(records_received readonly)" = 3 ] || fail "the device did not get the three records"
  [ ! -e "$ro/setting.ini" ] && [ ! -e "$ro/matrix-calm.qss" ] || fail "something was written into the read-only folder"
  chmod -R u+w "$ro"
  echo "run 5: read-only folder passed"
fi
# Run 6: installed as the package lays it out (programs in usr/bin, the skin library in
# usr/lib/matrix-update) in folders the user cannot write, and started by an ordinary user
# twice. The first start picks COM11 and updates the device: setting.ini lands in the user's
# configuration folder, the skin file in the user's runtime folder while the program runs,
# and the skin library is brought in from the package's folder. The second start has COM11
# chosen already: 開始更新 alone updates the device on it.
sys="$work/sys"
DESTDIR="$sys" cmake --install "$build" --prefix /usr --component deb >/dev/null || fail "cmake --install of the package layout failed"
user="$work/user"
mkdir -p "$user/home" "$user/config" "$user/run"
chmod 700 "$user/home" "$user/config" "$user/run"
if [ "$(id -u)" = 0 ]; then
  # As nobody: the installed tree is root's and so read-only; the user's own folders and
  # the device the program opens must be nobody's to use.
  # nobody gets the display's cookie in a file of its own.
  cp "$XAUTHORITY" "$user/Xauthority"
  chown -R 65534:65534 "$user"
  chmod 755 "$work"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env XAUTHORITY="$user/Xauthority")
else
  chmod -R a-w "$sys"
  as_user=()
fi
start_as_user() {
  launch_program "${as_user[@]}" env HOME="$user/home" XDG_CONFIG_HOME="$user/config" \
    XDG_RUNTIME_DIR="$user/run" "$sys/usr/bin/matrix-update"
  wait_for_dialog
}
# update_three_records WHY: sends three.bin from the dialog on screen to the port chosen,
# answers the closing instruction and closes the program; WHY is the failure if the device
# never gets the end of the transfer.
update_three_records() {
  click_file_field
  xdotool type --delay 10 "$work/three.bin"
  click_start
  device_done "$device_once" "$1" 30
  answer_box "closing instruction"
  finish_program
}
user_skin="$user/run/matrix-update/matrix-calm.qss"
before=$(find "$sys" | sort)

start_device user1 11 --reply ok --once
device_once=$device_pid
chmod 666 "$device_tty"
start_as_user
[ -f "$user_skin" ] || fail "the skin file is not in the user's runtime folder while the program runs"
grep -q "$sys/usr/lib/matrix-update/libmatrixskin.so" "/proc/$app_pid/maps" || fail "the skin library was not brought in from the package's folder"
no_box || fail "a message box came up at start-up"
click_port_field
xdotool key ctrl+a
xdotool type --delay 20 "COM11"
update_three_records "the device did not get the end-of-transfer byte"
[ "$(records_received user1)" = 3 ] || fail "the device did not get the three records"
grep -qx "ComPort=11" "$user/config/matrix-update/setting.ini" || fail "setting.ini in the user's configuration folder does not hold COM11"
[ "$(stat -c %a "$user/config/matrix-update")" = 700 ] || fail "the configuration folder is not private"
[ ! -e "$user_skin" ] || fail "the skin file outlived the program"
[ "$(find "$sys" | sort)" = "$before" ] || fail "something was written into the installed folders"

start_device user2 11 --reply ok --once
device_once=$device_pid
chmod 666 "$device_tty"
start_as_user
[ -f "$user_skin" ] || fail "the skin file is not in the user's runtime folder at the second start"
update_three_records "the second start did not use the port remembered"
[ "$(records_received user2)" = 3 ] || fail "the device did not get the three records at the second start"
[ ! -e "$user_skin" ] || fail "the skin file outlived the program"
echo "run 6: package layout as an ordinary user passed"

# The update log the dialog wrote: beside the portable program (runs 1 to 4), and in the
# ordinary user's state folder for the package's layout (run 6). Each update is one line with
# its facts; matrixctl reads the same log.
log_check() {  # LOG CHECKS...: python conditions on the lines (a list of dicts named L)
  python3 - "$@" <<'PY'
import json, sys
L = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
for check in sys.argv[2:]:
    if not eval(check):
        sys.exit("update log %s: not true: %s\n%s" % (sys.argv[1], check, "\n".join(map(str, L))))
PY
}
sum=$(sha256sum "$work/pattern.bin" | cut -d' ' -f1)
log_check "$inst/updates.log" \
  "L[0]['front_end'] == 'dialog' and L[0]['port'] == 'COM11' and L[0]['outcome'] == 'complete'" \
  "L[0]['file'] == '$work/pattern.bin' and L[0]['sha256'] == '$sum' and L[0]['size'] == $records * 12" \
  "L[0]['records'] == $records and L[0]['handled'] == $records and L[0]['device'].startswith('/dev/pts/')" \
  "any(l['outcome'] == 'refused' and 'rows.bin is not a pattern file' in l['reason'] for l in L)" \
  "any(l['outcome'] == 'refused' and 'no-such-file.bin' in l['reason'] and l['size'] is None for l in L)" \
  "any(l['outcome'] == 'cancelled' and l['unanswered'] == 1 and l['resends'] == 4 for l in L)" \
  "sum(l['outcome'] == 'cancelled' for l in L) >= 3" ||
  fail "the portable folder's update log does not hold the dialog's updates"
env -u MATRIX_UPDATE_LOG "$inst/matrixctl" log --port 11 > "$work/log.out"
grep -q "COM11 *complete *$records/$records .*pattern.bin$" "$work/log.out" ||
  { cat "$work/log.out" >&2; fail "matrixctl log in the portable folder does not show run 1's update"; }
state="$user/home/.local/state/matrix-update"
log_check "$state/updates.log" "len(L) == 2" "all(l['outcome'] == 'complete' and l['records'] == 3 for l in L)" ||
  fail "the ordinary user's update log does not hold run 6's two updates"
[ "$(stat -c %a "$state")" = 700 ] || fail "the user's state folder is not private"
echo "update log: passed"
echo "gui_person: all runs passed"
