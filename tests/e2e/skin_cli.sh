#!/usr/bin/env bash
# Drives matrixctl skin the way a person or a script would: list and unpack the built-in skin
# archive, check it against other ZIP tools, and unpack from archives given on the command line.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}/matrixctl
src=${MATRIX_SOURCE_DIR:?}
build=${MATRIX_BUILD_DIR:?}
data=$src/tests/data/zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The built-in archive: 69 entries, one line each, entry 26 the program's own look.
expect 0 "$bin" skin list
[ "$(wc -l < out)" = 69 ] || fail "skin list shows $(wc -l < out) lines, expected 69"
line26=$(sed -n 27p out)
[ "$(cut -f1 <<< "$line26")" = 26 ] || fail "line 27 is not entry 26: $line26"
name26=$(cut -f2 <<< "$line26")
[ "$(cut -f3,6 <<< "$line26")" = "$(printf -- '----A\t2024-01-01T12:00:00Z')" ] || fail "entry 26 attributes or time: $line26"

# Other tools read the same archive the build put into the program, and agree on it.
archive=$build/res/skin.zip
[ -f "$archive" ] || fail "the build left no $archive"
bounded unzip -tq "$archive" > /dev/null || fail "unzip finds the skin archive damaged"
[ "$(bounded bsdtar -tf "$archive" | wc -l)" = 69 ] || fail "bsdtar does not count 69 entries"
expect 0 "$bin" skin list "$archive"
bounded "$bin" skin list > builtin.txt
cmp out builtin.txt || fail "the built-in archive lists differently from $archive"

# Unpacking entry 26 as start-up does: into the directory, under its own name, with its times.
mkdir target
expect 0 "$bin" skin extract 26 --dir target
[ "$(cat out)" = "$name26" ] || fail "extract printed '$(cat out)', expected '$name26'"
bounded unzip -p "$archive" "$name26" > expected.qss
cmp "target/$name26" expected.qss || fail "the unpacked skin differs from what unzip gives"
[ "$(stat -c %Y "target/$name26")" = 1704110400 ] || fail "modification time not taken from the UT block"
[ "$(ls -A target)" = "$name26" ] || fail "extract left more than the one file: $(ls -A target)"
# The current directory is the default target.
(cd target && rm "$name26" && bounded "$bin" skin extract 26 > /dev/null) && [ -f "target/$name26" ] || fail "no file in the current directory"

# An archive given on the command line: directories come with the files below them.
mkdir tree
for n in 0 1 2 3 4; do expect 0 "$bin" skin extract $n "$data/bsdtar_tree.zip" --dir tree; done
cmp tree/skins/dark/night.qss <(timeout "$step_limit" bsdtar -xOf "$data/bsdtar_tree.zip" skins/dark/night.qss) || fail "night.qss differs"
cmp tree/big.txt <(timeout "$step_limit" unzip -p "$data/bsdtar_tree.zip" big.txt) || fail "big.txt differs"

# Names that lead outside the target are refused and nothing is written.
mkdir jail
for n in 0 1 2 3 4; do
  expect 2 "$bin" skin extract $n "$data/py_unsafe.zip" --dir jail
  grep -q "was not unpacked" err || fail "no clear message for unsafe entry $n"
done
[ -z "$(ls -A jail)" ] && [ ! -e evil.txt ] || fail "an unsafe name wrote something"
expect 0 "$bin" skin extract 5 "$data/py_unsafe.zip" --dir jail

# Failures and usage: each with its status and one sentence.
expect 1 "$bin" skin extract 69
grep -q "has no entry 69" err || fail "no message for a missing entry"
expect 1 "$bin" skin extract x
expect 1 "$bin" skin
expect 1 "$bin" skin list a b
expect 0 "$bin" skin --help
expect 2 "$bin" skin list "$work/missing.zip"
grep -q "cannot read the archive" err || fail "no message for a missing archive"
head -c 5000 /dev/urandom > noise.bin
expect 2 "$bin" skin list noise.bin
grep -q "not a readable ZIP archive" err || fail "no message for a block that is no archive"
# An archive that is no regular file is refused at once (a FIFO without a writer used to block
# the open for ever), by both actions.
mkfifo pipe.zip
expect 2 "$bin" skin list pipe.zip
grep -qF "cannot read the archive pipe.zip: it is a FIFO, not a regular file." err || { cat err >&2; fail "FIFO not refused"; }
expect 2 "$bin" skin extract 0 pipe.zip --dir jail
grep -qF "it is a FIFO, not a regular file" err || { cat err >&2; fail "FIFO not refused by extract"; }
expect 2 "$bin" skin list "$work"
grep -qF "it is a directory, not a regular file" err || { cat err >&2; fail "a directory is not refused"; }
expect 2 "$bin" skin extract 0 "$data/infozip_encrypted.zip" --dir jail
expect 2 "$bin" skin extract 0 --dir "$work/nowhere"

# Names from an archive are printed with their control characters escaped: a line break cannot
# forge a line of the listing, an escape sequence never reaches the terminal.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("ctl.zip", "w") as z:
    z.writestr("a\nforged\t----A\x1b[31m.qss", "x")
PY
expect 0 "$bin" skin list ctl.zip
[ "$(wc -l < out)" = 1 ] || { cat out >&2; fail "a name with a line break printed $(wc -l < out) lines"; }
grep -qF 'a\nforged\t----A\x1b[31m.qss' out || { cat out >&2; fail "the name is not shown escaped"; }
mkdir ctl
expect 0 "$bin" skin extract 0 ctl.zip --dir ctl
! grep -q $'\x1b' out || fail "extract printed an escape character"

# A damaged archive of many entries (every local header spoilt): one sentence per kind of
# problem, not one per entry.
python3 - <<'PY'
import io, zipfile
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as z:
    for i in range(60000):
        z.writestr("e%d" % i, "")
open("many.zip", "wb").write(buffer.getvalue().replace(b"PK\x03\x04", b"PK\x03\x05"))
PY
expect 2 "$bin" skin list many.zip
[ "$(wc -l < err)" -le 3 ] || { head -n 5 err >&2; fail "$(wc -l < err) error lines for one damaged archive"; }
grep -q "60000 entries of many.zip cannot be read" err || { cat err >&2; fail "the damage is not told once for all entries"; }
# ZIP64 (here forced by zip -fz; needed past 4 GiB or 65,535 entries) is not read, and said so.
expect 2 "$bin" skin list "$data/infozip_zip64.zip"
grep -q "needs ZIP64.*not supported" err || { cat err >&2; fail "a ZIP64 archive is not said to be one"; }
echo "skin_cli: all checks passed"
