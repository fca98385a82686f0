#!/usr/bin/env bash
# matrixctl simulate as a program on the other end of the line would see it: its first line,
# its link in the ports directory, its answers per --reply, its pacing, and a clean exit.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"

BIN="${MATRIX_BIN_DIR:?}/matrixctl"
WORK="$(mktemp -d)"
export MATRIX_PORTS_DIR="$WORK/ports"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# What the simulators said, to tell a slow machine from a fault.
fail_details() { for f in "$WORK"/*.err; do echo "== $f"; cat "$f"; done; }

# No step waits without bound: whatever is still running after this many seconds has hung.
step_limit=30

# wait_sim STEP PID: waits for a simulator to end, at most step_limit seconds; returns its status.
wait_sim() {
    wait_gone "$2" "$step_limit" || fail "$1: the simulator did not end within $step_limit s"
    wait "$2"
}

# Starts a simulator in the background; sets SIM_PID and SIM_PTY.
start_sim() {
    local name="$1"; shift
    "$BIN" simulate "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    SIM_PID=$!
    pids+=("$SIM_PID")
    local line="" tries=0
    while [ -z "$line" ] && [ $tries -lt 200 ]; do
        line="$(head -n 1 "$WORK/$name.out" 2>/dev/null || true)"
        [ -n "$line" ] || { sleep 0.05; tries=$((tries + 1)); }
    done
    SIM_PTY="${line#* }"
    [ -n "$line" ] || fail "$name: no first line within 10 s"
    [[ "$line" =~ ^COM[0-9]+\ /dev/pts/[0-9]+$ ]] || fail "$name: first line '$line'"
}

# Plays the program: a script of steps, each "send HEX" or "expect HEX" or "quiet MS"
# or "noise" (bytes arrive, but no FB/FE among them) or "slow MS" (the answer takes at least MS).
talk() {
    bounded_step "talk $*" python3 - "$@" <<'EOF'
import os, sys, termios, tty, select, time
path, steps = sys.argv[1], sys.argv[2:]
fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
def read(n, limit):
    got = b""
    end = time.monotonic() + limit
    while len(got) < n:
        left = end - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        got += os.read(fd, n - len(got))
    return got
sent_at = 0.0
for step in steps:
    kind, _, arg = step.partition(" ")
    if kind == "send":
        sent_at = time.monotonic()
        os.write(fd, bytes.fromhex(arg))
    elif kind == "expect":
        want = bytes.fromhex(arg)
        got = read(len(want), 5.0)
        if got != want:
            sys.exit("step %r: expected %s, got %s" % (step, want.hex(), got.hex()))
    elif kind == "slow":
        took = time.monotonic() - sent_at
        if took < int(arg) / 1000.0:
            sys.exit("answer after %.3f s, sooner than %s ms" % (took, arg))
    elif kind == "quiet":
        got = read(1, int(arg) / 1000.0)
        if got:
            sys.exit("expected silence, got %s" % got.hex())
    elif kind == "noise":
        got = read(1, 5.0)
        got += read(64, 0.3)
        if not got or 0xFB in got or 0xFE in got:
            sys.exit("expected noise without a frame, got %s" % got.hex())
os.close(fd)
EOF
}

OK="fb6f6bfe"
NG="fb6e67fe"
REC_A="c1000102030405060708 09c3"
REC_A="${REC_A// /}"
REC_B="c1$(printf "5a%.0s" {1..10})c3"
BAD="c1000102030405060708 0900"
BAD="${BAD// /}"

# ok: each record answered, a malformed one answered abnormal, the end byte answered and,
# with --once, the simulator ends and its link is gone.
start_sim ok --port 21 --once
[ -L "$MATRIX_PORTS_DIR/COM21" ] || fail "ok: no link COM21"
[ "$(readlink "$MATRIX_PORTS_DIR/COM21")" = "$SIM_PTY" ] || fail "ok: link does not point at $SIM_PTY"
bounded_step "ok: ports" "$BIN" ports | grep -q "^COM21	$SIM_PTY	pseudo-terminal$" || fail "ok: ports does not list COM21"
talk "$SIM_PTY" "send $REC_A" "expect $OK" "send $REC_B" "expect $OK" "send $BAD" "expect $NG" \
    "send c3" "expect $OK" || fail "ok: answers"
wait_sim "ok: --once" "$SIM_PID" || fail "ok: exit status $?"
[ ! -e "$MATRIX_PORTS_DIR/COM21" ] && [ ! -L "$MATRIX_PORTS_DIR/COM21" ] || fail "ok: link left behind"
grep -q "record 1 (send 1): " "$WORK/ok.err" || fail "ok: record not logged"
grep -q "record 2 (send 1): 0.00000,0.00000,0,0,0" "$WORK/ok.err" || fail "ok: all-zero record not decoded"
grep -q "malformed record" "$WORK/ok.err" || fail "ok: malformed record not logged"

# abnormal:2: two ng answers per record, counted afresh for each new record.
start_sim abnormal --port 22 --reply abnormal:2
talk "$SIM_PTY" "send $REC_A" "expect $NG" "send $REC_A" "expect $NG" "send $REC_A" "expect $OK" \
    "send $REC_B" "expect $NG" "send c3" "expect $OK" || fail "abnormal:2: answers"

# silent:1 ignores the first send of each record; silent ignores everything.
start_sim silent1 --port 23 --reply silent:1
talk "$SIM_PTY" "send $REC_A" "quiet 300" "send $REC_A" "expect $OK" "send $REC_B" "quiet 300" || fail "silent:1"
start_sim silent --port 24 --reply silent
talk "$SIM_PTY" "send $REC_A" "send $REC_A" "send c3" "quiet 300" || fail "silent"

# garbage: noise, never a frame.
start_sim garbage --port 25 --reply garbage
talk "$SIM_PTY" "send $REC_A" "noise" || fail "garbage"

# --pace 1200: a record (12 bytes) and its answer (4 bytes) take 16 byte times of 8.3 ms.
start_sim paced --port 26 --pace 1200
talk "$SIM_PTY" "send $REC_A" "expect $OK" "slow 130" || fail "pace"

# A second simulator may not take a number that a live one holds.
if bounded_step "duplicate port" "$BIN" simulate --port 26 >"$WORK/dup.out" 2>"$WORK/dup.err"; then fail "duplicate port accepted"; fi
grep -q "COM26 is already linked to $SIM_PTY" "$WORK/dup.err" || fail "duplicate: $(cat "$WORK/dup.err")"

# SIGTERM and SIGINT end it cleanly, removing the link.
kill -TERM "$SIM_PID"
wait_sim "SIGTERM" "$SIM_PID" || fail "paced: exit status $? after SIGTERM"
[ ! -L "$MATRIX_PORTS_DIR/COM26" ] || fail "SIGTERM: link left behind"
kill -INT "${pids[1]}"
wait_sim "SIGINT" "${pids[1]}" || fail "abnormal: exit status $? after SIGINT"
[ ! -L "$MATRIX_PORTS_DIR/COM22" ] || fail "SIGINT: link left behind"

# Usage errors.
set +e
bounded_step "bad --reply" "$BIN" simulate --reply maybe 2>/dev/null; [ $? -eq 1 ] || fail "bad --reply not a usage error"
bounded_step "bad --pace" "$BIN" simulate --pace 0 2>/dev/null; [ $? -eq 1 ] || fail "bad --pace not a usage error"
set -e
echo "simulate: all checks passed"
