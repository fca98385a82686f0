#!/usr/bin/env bash
# The Windows matrixctl.exe under Wine against the Linux device simulator: the simulator's
# pseudo-terminal is mapped as COM7 in the Wine registry, so the Windows program goes through
# CreateFile("\\.\COM7") and overlapped I/O like on a real port.
# Needs: WINEPREFIX prepared, MATRIX_BIN_DIR (Linux programs), MATRIX_WIN_BIN_DIR (Windows ones).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
winbin=${MATRIX_WIN_BIN_DIR:?}
src=${MATRIX_SOURCE_DIR:?}
: "${WINEPREFIX:?}"
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export MATRIX_PORTS_DIR="$work/ports"
mkdir -p "$MATRIX_PORTS_DIR"

# start_device ARGS...: the simulator as COM7, mapped into Wine; the wineserver is restarted
# so that Wine reads the new mapping, then kept warm for the next program.
start_device() {
  mkfifo "$work/sim.out"
  "$bin/matrixctl" simulate --port 7 "$@" > "$work/sim.out" 2> "$work/sim.log" &
  sim_pid=$!
  exec 7< "$work/sim.out"
  local first pty
  read -r -t 10 first <&7 || fail "simulator did not start"
  pty=${first#COM7 }
  [[ "$pty" == /dev/* ]] || fail "unexpected first line: $first"
  wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$pty" /f < /dev/null > /dev/null 2>&1 ||
    fail "cannot map COM7 to $pty"
  # The server and the services it starts outlive this script's commands: they must not hold
  # its output open, or whoever reads it waits for ever.
  wineserver -k < /dev/null > /dev/null 2>&1 || true
  wineserver -p < /dev/null > /dev/null 2>&1
  wineboot < /dev/null > /dev/null 2>&1
}

stop_device() {
  kill "$sim_pid" 2>/dev/null || true
  exec 7<&-
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  rm -f "$work/sim.out"
}

# run_send EXPECTED_STATUS ARGS...: matrixctl.exe send; stdout and stderr kept without the CR
# of Windows line ends.
run_send() {
  local expected=$1; shift
  set +e
  wine "$winbin/matrixctl.exe" send "$@" > "$work/out.crlf" 2> "$work/err.crlf"
  local status=$?
  set -e
  tr -d '\r' < "$work/out.crlf" > "$work/out"
  tr -d '\r' < "$work/err.crlf" > "$work/err"
  [ "$status" = "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "send $* exited $status, expected $expected"; }
}

# incomplete WHAT WORDS: the last line is the warning that the update did not complete, holding
# WORDS, and no line tells how to finish on the device.
incomplete() {
  local last
  last=$(tail -n 1 "$work/out")
  [[ "$last" == 更新未完成:* && "$last" == *"$2"* ]] || { cat "$work/out" >&2; fail "$1: the last line is not the warning: $last"; }
  grep -q "完成更新" "$work/out" && fail "$1: told how to finish an incomplete update"
  return 0
}

# The sample, in a folder with a Chinese name: the name must reach the file calls whole.
folder="$work/圖案檔 樣本"
mkdir -p "$folder"
cp "$src/res/sample.bin" "$folder/點陣圖案.bin"
records=$(( $(stat -c %s "$src/res/sample.bin") / 12 ))

# ok: the status lines are exactly the Linux program's, every record and the end byte arrive.
start_device --reply ok --once
"$bin/matrixctl" send --port 7 "$src/res/sample.bin" > "$work/linux.out" 2> /dev/null || fail "Linux send failed"
stop_device
start_device --reply ok --once
run_send 0 --port 7 "$(winpath "$folder/點陣圖案.bin")"
stop_device
diff -u "$work/linux.out" "$work/out" || fail "status lines differ from the Linux program's"
[ "$(grep -c '(send 1)' "$work/sim.log")" = "$records" ] || fail "the device did not get all $records records once"
grep -q "end of transfer" "$work/sim.log" || fail "device log shows no end-of-transfer byte"

# Software flow control is off once the program has opened the port, whatever the terminal
# had before: IXON and IXOFF switched on beforehand are off afterwards, and the sample's 0x11
# and 0x13 bytes reach the device in whole records, each sent once.
start_device --reply ok
pty=$(readlink "$MATRIX_PORTS_DIR/COM7")
stty -F "$pty" ixon ixoff
run_send 0 --port 7 "$(winpath "$src/res/sample.bin")"
flags=" $(stty -F "$pty" -a | tr '\n' ' ') "
stop_device
[[ "$flags" == *" -ixon "* && "$flags" == *" -ixoff "* ]] || fail "software flow control is still on after the open:$flags"
[ "$(grep -c '(send 1)' "$work/sim.log")" = "$records" ] && ! grep -q '(send 2)' "$work/sim.log" ||
  fail "the records holding 0x11 and 0x13 did not arrive whole"

# silent:2 on a short file: resends, and with a limit of one send per answer... every record
# still comes through on the third send.
head -c 36 "$src/res/sample.bin" > "$work/three.bin"
start_device --reply silent:2 --once
run_send 0 --port 7 --reply-timeout 200 "$(winpath "$work/three.bin")"
stop_device
[ "$(count_lines "傳送第0筆資料無回應")" = 2 ] || fail "expected two silent sends for record 0"
expect_line "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 3 行資料..."

# silent:K with K past the five sends: every record is given up, status 3.
start_device --reply silent:9
run_send 3 --port 7 --reply-timeout 100 "$(winpath "$work/three.bin")"
stop_device
[ "$(count_lines "傳送第0筆資料無回應")" = 5 ] || fail "expected five sends of record 0"
expect_line "點矩陣繪圖軟體 傳輸埠:COM7 已傳送共 3 行資料... 其中 3 筆無回應"
incomplete "silent" "0/3 筆資料,其中 3 筆無回應"

# Answers belong to their own send: halves of a frame after two sends (split), and answers of a
# slow device (200 baud, 150 ms from start to end marker) cut by resends every 100 ms, are no
# answer, as on Linux.
for device in "split:--reply split" "slow:--reply ok --pace 200"; do
  start_device ${device#*:}
  run_send 3 --port 7 --reply-timeout 100 "$(winpath "$work/three.bin")"
  stop_device
  grep -q "回應OK" "$work/out" && { cat "$work/out" >&2; fail "${device%%:*}: parts of two sends' answers were taken for one"; }
  [ "$(count_lines "傳送第0筆資料無回應")" = 5 ] || fail "${device%%:*}: expected five sends of record 0"
  incomplete "${device%%:*}" "0/3 筆資料"
done

# A device killed mid-transfer: one sentence naming the port, status 2, promptly.
start_device --reply ok --pace 9600
( sleep 1; kill "$sim_pid" ) &
start=$(date +%s)
run_send 2 --port 7 "$(winpath "$src/res/sample.bin")"
stop_device
[ $(( $(date +%s) - start )) -lt 10 ] || fail "a lost link took too long to end the transfer"
[ "$(grep -c "COM7" "$work/err")" = 1 ] || { cat "$work/err" >&2; fail "the loss is not told once, naming the port"; }
grep -q "連線中斷" "$work/out" || fail "no lost-link status text"
incomplete "lost device" "傳輸埠 COM7 連線中斷"

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) cancels like the dialog's button:
# the end-of-transfer byte is still sent, status 4.
start_device --reply silent --once
wine "$winbin/matrixctl.exe" send --port 7 "$(winpath "$work/three.bin")" > "$work/out.crlf" 2> "$work/err.crlf" &
send_pid=$!
for _ in $(seq 1 200); do grep -q "傳送第0/3筆" "$work/out.crlf" 2>/dev/null && break; sleep 0.05; done
kill -INT "$send_pid"
set +e; wait "$send_pid"; status=$?; set -e
tr -d '\r' < "$work/out.crlf" > "$work/out"
stop_device
[ "$status" = 4 ] || { cat "$work/out" "$work/err.crlf" >&2; fail "cancelled send exited $status, expected 4"; }
grep -q "end of transfer" "$work/sim.log" || fail "no end-of-transfer byte after a cancel"
expect_line "傳送第0筆資料時已取消更新"
incomplete "cancel" "已取消更新,傳輸埠 COM7 的裝置只確認收到 0/3 筆資料"

# A port that does not exist: status 2, one sentence naming it.
run_send 2 --port 200 "$(winpath "$work/three.bin")"
grep -q "COM200" "$work/err" || fail "open failure does not name the port"

# A CSV file renamed .bin is refused before the port is looked at.
printf 'x,y,i1,i2,i3\n1.5,2.25,1,2,3\n' > "$work/rows.bin"
run_send 2 --port 200 "$(winpath "$work/rows.bin")"
grep -qF "is not a pattern file: record 1 (byte 0) starts with 0x78 instead of the start marker 0xC1." "$work/err" ||
  { cat "$work/err" >&2; fail "a CSV file renamed .bin was not refused"; }
grep -q "COM200" "$work/err" && fail "the port was looked at before the file was refused"

# pattern check and render, the file in the Chinese-named folder: what check says is the Linux
# program's (but for the path's spelling), status 2 for a damaged file; the picture lands at
# FILE's name with .svg, is well-formed XML with one dot per record, and is the Linux picture.
run_pattern() {  # run_pattern EXPECTED_STATUS ARGS...: matrixctl.exe pattern, like run_send
  local expected=$1; shift
  set +e
  wine "$winbin/matrixctl.exe" pattern "$@" > "$work/out.crlf" 2> "$work/err.crlf"
  local status=$?
  set -e
  tr -d '\r' < "$work/out.crlf" > "$work/out"
  tr -d '\r' < "$work/err.crlf" > "$work/err"
  [ "$status" = "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "pattern $* exited $status, expected $expected"; }
}
"$bin/matrixctl" pattern check "$folder/點陣圖案.bin" | tail -n +2 > "$work/check.linux" || fail "Linux check failed"
run_pattern 0 check "$(winpath "$folder/點陣圖案.bin")"
tail -n +2 "$work/out" | diff -u "$work/check.linux" - || fail "pattern check says other things than the Linux program"
run_pattern 2 check "$(winpath "$work/rows.bin")"
grep -qF "is not a pattern file: record 1 (byte 0) starts with 0x78 instead of the start marker 0xC1." "$work/err" ||
  { cat "$work/err" >&2; fail "pattern check took a CSV file for a pattern file"; }
run_pattern 0 render "$(winpath "$folder/點陣圖案.bin")"
[ -f "$folder/點陣圖案.svg" ] || { ls "$folder" >&2; fail "render did not write FILE's name with .svg"; }
python3 - "$folder/點陣圖案.svg" "$records" <<'PY' || fail "the picture of matrixctl.exe is not one dot per record"
import sys, xml.etree.ElementTree as ET
ns = {"s": "http://www.w3.org/2000/svg"}
root = ET.parse(sys.argv[1]).getroot()
dots = root.findall(".//s:g[@id='records']/s:circle", ns)
sys.exit(0 if len(dots) == int(sys.argv[2]) and root.find("s:title", ns).text == "點陣圖案.bin: %s records" % sys.argv[2] else 1)
PY
"$bin/matrixctl" pattern render "$folder/點陣圖案.bin" -o "$work/linux.svg" > /dev/null || fail "Linux render failed"
cmp "$work/linux.svg" "$folder/點陣圖案.svg" || fail "matrixctl.exe draws another picture than the Linux program"
cp "$work/rows.bin" "$work/rows.csv"
run_pattern 0 render "$(winpath "$work/rows.csv")" -o "$(winpath "$work/rows.svg")" --size 300
grep -q 'width="300"' "$work/rows.svg" || fail "render of a CSV file with -o and --size"

echo "send_wine: all cases passed"
