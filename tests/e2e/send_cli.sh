#!/usr/bin/env bash
# matrixctl send against matrixctl simulate on a pseudo-terminal, the way a script would use
# them: every reply mode of the device, and a device that goes away mid-transfer. Every ending
# is checked by its last line: the closing instruction only after a complete update, the
# warning that it did not complete otherwise.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}
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

# Three records of a real pattern file.
printf 'x,y,i1,i2,i3\n1.5,2.25,1,2,3\n10.125,-3.5,4,5,6\n0,0,0,0,0\n' > "$work/in.csv"
"$bin/matrixctl" pattern encode "$work/in.csv" "$work/three.bin"

# start_device PORT ARGS...: runs the simulator in the background and waits for its first line.
start_device() {
  local port=$1; shift
  mkfifo "$work/sim.out.$port"
  "$bin/matrixctl" simulate --port "$port" "$@" > "$work/sim.out.$port" 2> "$work/sim.log.$port" &
  sim_pid=$!
  sim_log="$work/sim.log.$port"
  exec 7< "$work/sim.out.$port"
  read -r -t 10 first <&7 || fail "simulator on COM$port did not start"
  [[ "$first" == COM$port\ /dev/* ]] || fail "unexpected first line: $first"
}

# wait_bounded PID SECONDS STEP: waits for a background process to end, at most SECONDS;
# then kills it and fails naming STEP. Its exit status ends up in $waited.
wait_bounded() {
  local pid=$1 limit=$2 step=$3
  if ! wait_gone "$pid" "$limit"; then
    kill -9 "$pid" 2>/dev/null || true
    # What the device and the last send said, to tell a slow machine from a lost byte.
    for f in "${sim_log:-}" "$work/out" "$work/err"; do
      [ -n "$f" ] && [ -s "$f" ] && { echo "--- ${f##*/}:" >&2; tail -n 12 "$f" >&2; }
    done
    fail "$step did not end within $limit s"
  fi
  set +e; wait "$pid"; waited=$?; set -e
}

stop_device() {
  exec 7<&-
  [ -n "$sim_pid" ] && wait_bounded "$sim_pid" 30 "the simulator"
  sim_pid=""
}

# run_send EXPECTED_STATUS ARGS...: runs matrixctl send, keeps stdout and stderr.
run_send() {
  local expected=$1; shift
  set +e
  timeout -s KILL 60 "$bin/matrixctl" send "$@" > "$work/out" 2> "$work/err"
  local status=$?
  set -e
  [ "$status" = 137 ] && fail "send $* did not end within 60 s"
  [ "$status" = "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "send $* exited $status, expected $expected"; }
}

closing="請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新"

# incomplete WHAT WORDS: the last line is the warning, holding WORDS, and no line tells how to
# finish on the device.
incomplete() {
  local last
  last=$(tail -n 1 "$work/out")
  [[ "$last" == 更新未完成:* && "$last" == *"$2"* && "$last" == *"再按「開始更新」傳送整個檔案。" ]] ||
    { cat "$work/out" >&2; fail "$1: the last line is not the warning holding '$2': $last"; }
  grep -q "完成更新" "$work/out" && { cat "$work/out" >&2; fail "$1: told how to finish an incomplete update"; }
  return 0
}

# ok: every record answered at once.
start_device 11 --reply ok --once
run_send 0 --port 11 "$work/three.bin"
stop_device
expect_line "Now program 3 data..."
expect_line "傳送第2/3筆"
expect_line "點矩陣繪圖軟體 傳輸埠:COM11 已傳送共 3 行資料..."
[ "$(tail -n 1 "$work/out")" = "$closing" ] || fail "closing instruction is not last"
grep -q "end of transfer" "$work/sim.log.11" || fail "device log shows no end-of-transfer byte"

# abnormal:2: two wrong replies per record, each resent.
start_device 12 --reply abnormal:2 --once
run_send 0 --port 12 "$work/three.bin"
stop_device
[ "$(count_lines "傳送第1筆資料回應異常")" = 2 ] || fail "expected two wrong replies for record 1"
expect_line "傳送第1筆資料回應OK"

# silent:2: two sends of each record are ignored, the third is answered.
start_device 13 --reply silent:2 --once
run_send 0 --port 13 --reply-timeout 200 "$work/three.bin"
stop_device
[ "$(count_lines "傳送第0筆資料無回應")" = 2 ] || fail "expected two silent sends for record 0"
expect_line "點矩陣繪圖軟體 傳輸埠:COM13 已傳送共 3 行資料..."

# garbage: never a framed reply, so every record is given up after five sends.
start_device 14 --reply garbage
run_send 3 --port 14 --reply-timeout 100 "$work/three.bin"
kill "$sim_pid" 2>/dev/null || true
stop_device
[ "$(count_lines "傳送第0筆資料無回應")" = 5 ] || fail "expected five sends of record 0"
expect_line "點矩陣繪圖軟體 傳輸埠:COM14 已傳送共 3 行資料... 其中 3 筆無回應"
incomplete "garbage" "傳輸埠 COM14 的裝置只確認收到 0/3 筆資料,其中 3 筆無回應"

# split: FB 'o' after one send, 'k' FE after the next. Halves of two sends are no answer: each
# record is sent five times and given up.
start_device 21 --reply split
run_send 3 --port 21 --reply-timeout 200 "$work/three.bin"
kill "$sim_pid" 2>/dev/null || true
stop_device
[ "$(count_lines "傳送第0筆資料無回應")" = 5 ] || { cat "$work/out" >&2; fail "split: expected five sends of record 0"; }
grep -q "回應OK" "$work/out" && fail "split: halves of two sends were taken for an answer"
incomplete "split" "0/3 筆資料,其中 3 筆無回應"

# A slow device (200 baud: a record takes 600 ms to reach it, its answer 200 ms to come back,
# 150 ms from start to end marker) with a limit of 100 ms: every answer arrives across a resend.
# The head of an answer is not joined to its tail after the next send, so no record is taken for
# confirmed. (Whole answers to an earlier send cannot be told from the next one's: the limit
# must be longer than the device's answer time, as the README says.)
start_device 22 --reply ok --pace 200
run_send 3 --port 22 --reply-timeout 100 "$work/three.bin"
kill "$sim_pid" 2>/dev/null || true
stop_device
grep -q "回應OK" "$work/out" && { cat "$work/out" >&2; fail "slow device: an answer cut by a resend was taken as whole"; }
incomplete "slow device" "0/3 筆資料"

# wrong with --max-wrong-replies 3: each record answered wrongly three times is given up.
start_device 23 --reply wrong --once
run_send 3 --port 23 --max-wrong-replies 3 "$work/three.bin"
stop_device
[ "$(count_lines "傳送第1筆資料回應異常")" = 3 ] || { cat "$work/out" >&2; fail "wrong: expected three wrong replies for record 1"; }
grep -q "3 record(s) were answered wrongly 3 times in a row and given up" "$work/err" || { cat "$work/err" >&2; fail "wrong: not said on stderr"; }
incomplete "always wrong" "3 筆一再回應異常"

# A device killed mid-transfer: the link is lost, the transfer ends at once with status 2.
for i in $(seq 1 40); do printf '%s\n' "$i.5,$i.25,$i,$i,$i"; done > "$work/many.csv"
"$bin/matrixctl" pattern encode "$work/many.csv" "$work/many.bin"
start_device 15 --reply ok --pace 9600
# The device goes once the transfer is under way (a fixed delay raced a loaded machine's start).
rm -f "$work/out"
( for _ in $(seq 1 600); do grep -q "傳送第1/" "$work/out" 2>/dev/null && break; sleep 0.05; done
  kill "$sim_pid" ) &
start=$(date +%s)
run_send 2 --port 15 "$work/many.bin"
stop_device
[ $(( $(date +%s) - start )) -lt 10 ] || fail "a lost link took too long to end the transfer"
grep -q "COM15" "$work/err" || fail "the loss does not name the port"
grep -q "連線中斷" "$work/out" || fail "no lost-link status text"
incomplete "lost device" "傳輸埠 COM15 連線中斷,裝置只確認收到"

# --give-up-after 2: a dead device stops the transfer after two records, the end byte still sent.
start_device 24 --reply silent
run_send 3 --port 24 --reply-timeout 100 --give-up-after 2 "$work/many.bin"
kill "$sim_pid" 2>/dev/null || true
stop_device
[ "$(grep -c '^record ' "$work/sim.log.24")" = 10 ] || fail "give-up-after: expected ten sends before the stop"
grep -q "end of transfer" "$work/sim.log.24" || fail "give-up-after: no end-of-transfer byte"
grep -q "stopped after 2 records in a row got no reply; 38 of 40 records were not sent." "$work/err" ||
  { cat "$work/err" >&2; fail "give-up-after: the stop is not said"; }
incomplete "give-up-after" "因連續多筆無回應而停止傳送"

# Ctrl-C, kill and a closed terminal cancel like the dialog's button: the end-of-transfer byte
# is still sent, status 4.
port=17
for sig in INT HUP; do
  start_device $port --reply silent --once
  "$bin/matrixctl" send --port $port "$work/three.bin" > "$work/out" 2> "$work/err" &
  send_pid=$!
  for _ in $(seq 1 400); do grep -q "傳送第0/3筆" "$work/out" 2>/dev/null && break; sleep 0.05; done
  grep -q "傳送第0/3筆" "$work/out" || fail "SIG$sig: the send did not start within 20 s"
  kill -$sig "$send_pid"
  wait_bounded "$send_pid" 30 "send after SIG$sig"
  status=$waited
  stop_device
  [ "$status" = 4 ] || { cat "$work/out" "$work/err" >&2; fail "SIG$sig: send exited $status, expected 4"; }
  grep -q "end of transfer" "$work/sim.log.$port" || fail "SIG$sig: no end-of-transfer byte after a cancel"
  # The wait the cancel cut short is no missing reply.
  expect_line "傳送第0筆資料時已取消更新"
  grep -q "無回應" "$work/out" && fail "SIG$sig: a wait cut by the cancel was reported as no reply"
  incomplete "SIG$sig" "已取消更新,傳輸埠 COM$port 的裝置只確認收到 0/3 筆資料"
  port=$((port + 1))
done

# A reader that goes away (| head -n1) does not end the transfer: it runs to its end-of-transfer
# byte, and status 5 says that output was lost.
start_device 20 --reply ok --pace 9600 --once
set +e
timeout -s KILL 60 "$bin/matrixctl" send --port 20 "$work/many.bin" 2> "$work/err" | head -n 1 > "$work/out"
status=${PIPESTATUS[0]}
set -e
stop_device
[ "$status" = 5 ] || { cat "$work/err" >&2; fail "send into a closed pipe exited $status, expected 5"; }
grep -q "end of transfer" "$work/sim.log.20" || fail "no end-of-transfer byte after stdout was closed"
grep -q "standard output was closed" "$work/err" || fail "the lost output is not said on stderr"

# A port that does not exist: status 2, one sentence naming it.
run_send 2 --port 200 "$work/three.bin"
grep -q "COM200" "$work/err" || fail "open failure does not name the port"

# A port that is no serial device is refused at the open (it used to poll readable for ever and
# burn a core); neither it nor a link outside 1..255 is listed, and the latter is said on stderr.
ln -s /dev/null "$MATRIX_PORTS_DIR/COM19"
ln -s /dev/null "$MATRIX_PORTS_DIR/COM300"
run_send 2 --port 19 "$work/three.bin"
grep -qF "COM19 (/dev/null) is not a serial port." "$work/err" || { cat "$work/err" >&2; fail "/dev/null is not refused as a serial port"; }
timeout -s KILL 60 "$bin/matrixctl" ports > "$work/out" 2> "$work/err" || fail "ports failed or did not end within 60 s"
grep -q "^COM19	\|^COM300	" "$work/out" && fail "ports lists /dev/null or COM300"
grep -q "COM300 is ignored" "$work/err" || { cat "$work/err" >&2; fail "ports does not say that COM300 is ignored"; }
rm -f "$MATRIX_PORTS_DIR/COM19" "$MATRIX_PORTS_DIR/COM300"

# Permission refused (as nobody, so only when run as root): the group is named only when it may
# read and write the device; a device only root may open gets a udev rule instead.
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  chmod 755 "$work"
  start_device 25 --reply ok
  tty=${first#COM25 }
  for access in "0600 root:tty|only root may open it (mode 0600, group tty)" \
                "0660 root:dialout|add your user to the group 'dialout'"; do
    read -r mode owner <<< "${access%%|*}"
    chmod "$mode" "$tty"; chown "$owner" "$tty"
    set +e
    setpriv --reuid=65534 --regid=65534 --clear-groups "$bin/matrixctl" send --port 25 "$work/three.bin" > "$work/out" 2> "$work/err"
    status=$?
    set -e
    [ "$status" = 2 ] || { cat "$work/err" >&2; fail "$mode $owner: send as nobody exited $status, expected 2"; }
    grep -qF "${access#*|}" "$work/err" || { cat "$work/err" >&2; fail "$mode $owner: the advice is not '${access#*|}'"; }
    ! grep -q "group 'root'\|group 'tty'" "$work/err" || { cat "$work/err" >&2; fail "$mode $owner: a group that does not help is named"; }
  done
  kill "$sim_pid" 2>/dev/null || true
  stop_device
fi

# Files that cannot be sent: status 2, the file named, nothing sent. A FIFO without a writer
# used to block the open for ever; 1 to 11 bytes used to send only the end-of-transfer byte.
mkfifo "$work/fifo.bin"
printf 'short' > "$work/short.bin"
start_device 16 --reply ok
for bad in "missing.bin:missing.bin" "fifo.bin:is a FIFO" "short.bin:less than one record"; do
  run_send 2 --port 16 "$work/${bad%%:*}"
  grep -q "${bad#*:}" "$work/err" || { cat "$work/err" >&2; fail "${bad%%:*}: the reason is not given"; }
done
# A CSV file renamed .bin, and a pattern file whose second record lost its end marker: refused
# before the port is opened (a port that does not exist is not even looked at), one sentence
# naming the file, the record, the byte found and the one expected.
cp "$work/in.csv" "$work/rows.bin"
{ head -c 23 "$work/three.bin"; printf '\x00'; tail -c +25 "$work/three.bin"; } > "$work/marker.bin"
for bad in "rows.bin:record 1 (byte 0) starts with 0x78 instead of the start marker 0xC1." \
           "marker.bin:record 2 (byte 12) ends with 0x00 instead of the end marker 0xC3."; do
  for port in 16 200; do
    run_send 2 --port $port "$work/${bad%%:*}"
    grep -qF "${bad%%:*} is not a pattern file: ${bad#*:}" "$work/err" || { cat "$work/err" >&2; fail "${bad%%:*} on COM$port: not refused as it should be"; }
    grep -q "COM" "$work/err" && { cat "$work/err" >&2; fail "${bad%%:*}: the port was looked at"; }
    [ -s "$work/out" ] && { cat "$work/out" >&2; fail "${bad%%:*}: something was printed on stdout"; }
  done
done
kill "$sim_pid" 2>/dev/null || true
stop_device
grep -q "record\|end of transfer\|stray" "$work/sim.log.16" && fail "a file that cannot be sent reached the device"
echo "send_cli: all cases passed"
