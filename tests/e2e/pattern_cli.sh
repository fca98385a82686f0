#!/usr/bin/env bash
# Drives matrixctl pattern the way a script would: the sample round trip, a bad row, values the
# record does not keep (with --strict), a damaged binary, check, render (the SVG read back as
# XML), and the usage errors, each with its exit status.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
bin=${MATRIX_BIN_DIR:?}/matrixctl
src=${MATRIX_SOURCE_DIR:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The shipped sample is what encode makes of its CSV, and survives decode and encode again.
expect 0 "$bin" pattern encode "$src/res/sample.csv" sample.bin
cmp sample.bin "$src/res/sample.bin" || fail "res/sample.bin differs from the encoded res/sample.csv"
[ ! -s err ] || { cat err >&2; fail "the sample holds values that are not stored as written"; }
expect 0 "$bin" pattern decode sample.bin
cp out decoded.csv
[ "$(head -n 1 decoded.csv)" = "x,y,i1,i2,i3" ] || fail "decode prints no header"
[ "$(($(wc -l < decoded.csv) - 1))" = "$(($(stat -c %s sample.bin) / 12))" ] || fail "one row per record"
expect 0 "$bin" pattern encode decoded.csv again.bin
cmp sample.bin again.bin || fail "decode then encode changed the records"

# Values whose products fall just short of an integer, and ones that wrap, also come back whole.
printf '1.005,0.29,-1,256,-1\n70.5,-23.5,0,0,65536\n-0.00099,99.99999,7,7,7\n' > edge.csv
expect 0 "$bin" pattern encode edge.csv edge.bin
[ "$(stat -c %s edge.bin)" = 36 ] || fail "three records are 36 bytes"
expect 0 "$bin" pattern decode edge.bin
cp out edge-decoded.csv
expect 0 "$bin" pattern encode edge-decoded.csv edge-again.bin
cmp edge.bin edge-again.bin || fail "edge values did not survive the round trip"

# Values the record does not keep: one line each, then a count after the first 20; the file is
# written all the same, but not with --strict (status 2, the old file left alone).
{ echo 'x;y;i1;i2;i3'; echo '121.45;0.29;1;300;70000'; for i in $(seq 1 20); do echo "0,0,0,0,-$i"; done; } > lossy.csv
expect 0 "$bin" pattern encode lossy.csv lossy.bin
[ "$(stat -c %s lossy.bin)" = 252 ] || fail "lossy.csv was not encoded whole"
grep -qx 'lossy.csv:2: x 121.45 is stored as 21.45 (only the last two integer digits are kept)' err \
  || { cat err >&2; fail "the hundreds lost are not said"; }
grep -qx 'lossy.csv:2: y 0.29 is stored as 0.29099 (in double precision 0.29 times 100000 is 28999.999999999996, and the format truncates rather than rounds; write 0.290005 to store 0.29)' err \
  || { cat err >&2; fail "the truncation is not said"; }
grep -qx 'lossy.csv:18: i3 -16 is stored as 65520 (only the low 16 bits are kept, a number from 0 to 65535)' err \
  || { cat err >&2; fail "the 20th value is not said"; }
grep -q 'lossy.csv:19:' err && fail "more than 20 values said one by one"
grep -qx 'lossy.csv: 4 more values are not stored as written.' err || { cat err >&2; fail "the rest not counted"; }
grep -qx 'lossy.csv: 24 values in 21 rows are not stored as written; lossy.bin holds them as said above (--strict refuses such a file).' err \
  || { cat err >&2; fail "summary line"; }
cp lossy.bin lossy-before.bin
expect 2 "$bin" pattern encode --strict lossy.csv lossy.bin
cmp lossy.bin lossy-before.bin || fail "--strict touched its output"
grep -q 'so lossy.bin was not written (--strict)' err || { cat err >&2; fail "--strict refusal"; }
expect 0 "$bin" pattern encode --strict "$src/res/sample.csv" strict.bin
cmp strict.bin sample.bin || fail "--strict changed a file whose values are all kept"

# A bad row: reported as FILE:LINE: reason, status 2, and the old output is left alone.
printf 'x,y,i1,i2,i3\n# fine so far\n1,2,3,4,5\n1,2,abc,4,5\n' > bad.csv
expect 2 "$bin" pattern encode bad.csv sample.bin
grep -qx 'bad.csv:4: field 3 (i1) is not a number: "abc"' err || { cat err >&2; fail "bad row message"; }
cmp sample.bin "$src/res/sample.bin" || fail "a failed encode touched its output"
expect 2 "$bin" pattern encode bad.csv new.bin
[ ! -e new.bin ] || fail "a failed encode created its output"
printf '1,2,3,4,2147483648\n' > range.csv
expect 2 "$bin" pattern encode range.csv new.bin
grep -q '^range.csv:1: field 5 (i3) is outside the 32-bit signed integer range' err || fail "range message"
# An output that names the input (another spelling of it, or a link to it) would replace the
# input with what was made of it: refused, the input left alone.
cp bad.csv same.csv
ln -s same.csv same-link.csv
expect 2 "$bin" pattern encode same.csv ./same-link.csv
cmp same.csv bad.csv || fail "encode wrote over its input"
grep -qx './same-link.csv is the file being read; give another output file.' err || { cat err >&2; fail "encode over its input"; }
expect 2 "$bin" pattern encode missing.csv new.bin
grep -q 'missing.csv' err || fail "missing input not named"
ls "$work" | grep -q 'XXX\|\.bin\.' && fail "temporary file left behind"

# A damaged binary: a partial record or a wrong marker is an error and prints no rows.
head -c 30 sample.bin > partial.bin
expect 2 "$bin" pattern decode partial.bin
grep -q 'partial record of 6 bytes' err || { cat err >&2; fail "partial record message"; }
[ ! -s out ] || fail "rows printed for a damaged file"
{ head -c 12 sample.bin; printf '\x00'; tail -c +14 sample.bin | head -c 11; } > marker.bin
expect 2 "$bin" pattern decode marker.bin
grep -q 'record 2 (byte 12)' err || { cat err >&2; fail "bad marker message"; }

# check: a good file, a damaged one, a piece of a record at the end, one shorter than a record.
expect 0 "$bin" pattern check sample.bin
grep -qx 'records:         300 (3600 bytes)' out || { cat out >&2; fail "check: records"; }
grep -qx 'first damaged:   none' out || fail "check: damage"
grep -qx 'x:               -16 to 16' out || { cat out >&2; fail "check: range of x"; }
grep -qx 'i1:              1' out || fail "check: values of i1"
grep -qx 'i3:              300 values from 0 to 299' out || fail "check: range of i3"
expect 2 "$bin" pattern check marker.bin
grep -qx 'first damaged:   record 2 (byte 12) starts with 0x00 instead of 0xC1' out || { cat out >&2; fail "check: first damaged"; }
grep -qx 'marker.bin is not a pattern file: record 2 (byte 12) starts with 0x00 instead of the start marker 0xC1.' err \
  || { cat err >&2; fail "check: the transfer's sentence"; }
expect 2 "$bin" pattern check partial.bin
grep -qx 'trailing bytes:  6 after record 2 (not sent)' out || { cat out >&2; fail "check: trailing bytes"; }
head -c 5 sample.bin > short.bin
expect 2 "$bin" pattern check short.bin
grep -qx 'short.bin has only 5 bytes, less than one 12-byte record.' err || { cat err >&2; fail "check: short file"; }

# render: the SVG is well-formed XML with one dot per record; FILE's name with .svg by default.
svg_dots() {  # svg_dots FILE: the number of dots, after parsing the whole document
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
ns = {"s": "http://www.w3.org/2000/svg"}
root = ET.parse(sys.argv[1]).getroot()
group = root.find(".//s:g[@id='records']", ns)
print(len(group.findall("s:circle", ns)), root.find("s:title", ns).text)
PY
}
expect 0 "$bin" pattern render sample.bin
[ "$(svg_dots sample.svg)" = "300 sample.bin: 300 records" ] || fail "render: $(svg_dots sample.svg)"
cmp sample.svg "$src/docs/sample-pattern.svg" || fail "docs/sample-pattern.svg, the README's picture, is not what \
render draws of the sample now: make it again with matrixctl pattern render res/sample.bin -o docs/sample-pattern.svg"
mkdir -p 'odd dir'
cp edge.csv 'odd dir/a<b>&"c'\''.csv'
expect 0 "$bin" pattern render 'odd dir/a<b>&"c'\''.csv' --size 300
[ "$(svg_dots 'odd dir/a<b>&"c'\''.svg')" = '3 a<b>&"c'\''.csv: 3 records' ] || fail "render: a name that XML must escape"
grep -q '^odd dir/a<b>&"c'\''.csv: 8 values are not stored as written' err || { cat err >&2; fail "render: the CSV's changes"; }
expect 0 "$bin" pattern render -o - lossy.csv
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.buffer.read())' < out || fail "render -o -"
expect 2 "$bin" pattern render marker.bin -o marker.svg
[ ! -e marker.svg ] || fail "a picture of a damaged file"
cp sample.bin kept.bin
expect 2 "$bin" pattern render kept.bin -o ./kept.bin
cmp kept.bin sample.bin || fail "render wrote its picture over the pattern file"
expect 1 "$bin" pattern render sample.bin --size 50
grep -q "'50' is not a picture width in pixels (200 to 10000)" err || { cat err >&2; fail "render: --size"; }

# Usage.
expect 0 "$bin" pattern --help
grep -q 'pattern encode \[--strict\] IN.csv OUT.bin' out || fail "help text"
grep -q 'commas, semicolons or tabs' out || fail "help: separators"
expect 1 "$bin" pattern
expect 1 "$bin" pattern encode only-one.csv
expect 1 "$bin" pattern frobnicate a b
echo "pattern_cli: all passed"
