#!/usr/bin/env bash
# What the Windows folder and zip give people, checked file by file (no Wine needed): both
# programs carry their manifest, version information and icon (as objdump and the resource
# tools read them), and README.txt is a UTF-8 text with a byte-order mark and CRLF line ends
# that lists every exit status of matrixctl and tells how to install.
# Needs: MATRIX_WIN_BIN_DIR (the Windows programs), MATRIX_SOURCE_DIR.
set -eEuo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_helpers.sh"
winbin=${MATRIX_WIN_BIN_DIR:?}
: "${MATRIX_SOURCE_DIR:?}"
for tool in x86_64-w64-mingw32-objdump wrestool icotool python3 unzip; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited $?" >&2' ERR

win_build=$(dirname "$winbin")
scripts/make-windows-dist.sh "$win_build" "$work/dist" > /dev/null
folder="$work/dist/matrix-update-windows"
. "$win_build/res/win/product.env"

for program in matrix-update matrixctl; do
  exe="$folder/$program.exe"
  # The resource types in the file's resource directory: 14 an icon group, 16 the version
  # information, 24 the manifest.
  types=$(x86_64-w64-mingw32-objdump -p "$exe" |
          sed -n '/The .rsrc Resource Directory/,/Resources start/p' |
          sed -n 's/^0[0-9a-f]\{2\}   Entry: ID: 0x0000\([0-9a-f]\{2\}\).*/\1/p' | tr '\n' ' ')
  for type in 0e 10 18; do
    [[ " $types" == *" $type "* ]] || fail "$program.exe has no resource of type 0x$type (it has: $types)"
  done

  mkdir "$work/$program"
  wrestool --extract --type=14 --output="$work/$program" "$exe"
  sizes=$(icotool --list "$work/$program"/*.ico | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -n | tr '\n' ' ')
  [ "$sizes" = "16 24 32 48 64 256 " ] || fail "$program.exe's icon has the sizes $sizes, not 16 to 256"
  # The same images as the icon the build made (the icon files themselves differ in layout).
  mkdir "$work/$program/images" "$work/$program/built"
  icotool --extract --output="$work/$program/images" "$work/$program"/*.ico
  icotool --extract --output="$work/$program/built" "$MATRIX_ICON_FILE"
  (cd "$work/$program/images" && md5sum -- * | sed 's/ .*_\([0-9]*x[0-9]*x[0-9]*\.png\)$/ \1/' | sort) > "$work/$program/a"
  (cd "$work/$program/built" && md5sum -- * | sed 's/ .*_\([0-9]*x[0-9]*x[0-9]*\.png\)$/ \1/' | sort) > "$work/$program/b"
  cmp -s "$work/$program/a" "$work/$program/b" || fail "$program.exe's icon is not the project's icon"

  wrestool --extract --raw --type=16 "$exe" > "$work/$program.version"
  wrestool --extract --raw --type=24 "$exe" > "$work/$program.manifest"
  python3 - "$work/$program.version" "$work/$program.manifest" "$program.exe" "$MATRIX_VERSION" "$MATRIX_PUBLISHER" <<'EOF' ||
import struct, sys
import xml.etree.ElementTree as ElementTree
version_data, manifest_path, file_name, version, publisher = open(sys.argv[1], "rb").read(), *sys.argv[2:]
problems = []

# The version resource: nested blocks of (length, value length, type, key, padding, value,
# padding, children); the strings of StringFileInfo are read into a table.
def blocks(data, start, end):
    while start + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, start)
        if length == 0 or start + length > end:
            problems.append("a version block runs past its parent")
            return
        key_end = data.index(b"\0\0", start + 6)
        while (key_end - start) % 2:
            key_end = data.index(b"\0\0", key_end + 1)
        key = data[start + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        yield key, kind, value_length, data, value_start, start + length
        start = (start + length + 3) & ~3

strings = {}
fixed_version = None
for key, _, value_length, data, value_start, block_end in blocks(version_data, 0, len(version_data)):
    if key != "VS_VERSION_INFO":
        continue
    signature, _, ms, ls = struct.unpack_from("<IIII", data, value_start)
    if signature == 0xFEEF04BD:
        fixed_version = "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)
    children = (value_start + value_length + 3) & ~3
    for child, _, _, _, child_value, child_end in blocks(data, children, block_end):
        if child != "StringFileInfo":
            continue
        for _, _, _, _, table_value, table_end in blocks(data, child_value, child_end):
            for name, _, length, _, text, _ in blocks(data, table_value, table_end):
                strings[name] = data[text:text + 2 * length].decode("utf-16-le").rstrip("\0")

expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "matrix-update",
            "CompanyName": publisher, "OriginalFilename": file_name}
for name, value in expected.items():
    if strings.get(name) != value:
        problems.append("%s is %r, not %r" % (name, strings.get(name), value))
for name in ("FileDescription", "LegalCopyright"):
    if not strings.get(name):
        problems.append("no " + name)
if fixed_version != version:
    problems.append("the fixed file version is %s, not %s" % (fixed_version, version))

# The manifest: well-formed, common controls 6, asInvoker, Windows 7 to 11, and DPI awareness
# per monitor (v2) falling back to system aware.
try:
    root = ElementTree.parse(manifest_path).getroot()
except ElementTree.ParseError as error:
    problems.append("the manifest is not well-formed XML: %s" % error)
    root = ElementTree.Element("none")
def texts(tag):
    return [(e.text or "").strip() for e in root.iter() if e.tag.endswith("}" + tag)]
def attributes(tag, name):
    return [e.get(name) for e in root.iter() if e.tag.endswith("}" + tag)]
if not any(e.get("name") == "Microsoft.Windows.Common-Controls" and e.get("version") == "6.0.0.0"
           for e in root.iter() if e.tag.endswith("}assemblyIdentity")):
    problems.append("the manifest asks for no common controls 6")
if attributes("requestedExecutionLevel", "level") != ["asInvoker"]:
    problems.append("the manifest's execution level is not asInvoker")
supported = {s.strip("{}").lower() for s in attributes("supportedOS", "Id")}
for system, guid in (("7", "35138b9a-5d96-4fbd-8e2d-a2440225f93a"), ("8", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38"),
                     ("8.1", "1f676c76-80e1-4239-95bb-83d0f6d0da78"), ("10 and 11", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")):
    if guid not in supported:
        problems.append("the manifest does not name Windows " + system)
awareness = [a.strip().lower() for t in texts("dpiAwareness") for a in t.split(",")]
if awareness[:1] != ["permonitorv2"] or "system" not in awareness:
    problems.append("DPI awareness is %r, not per-monitor v2 then system" % awareness)
if [t.lower() for t in texts("dpiAware")] != ["true"]:
    problems.append("no system-aware dpiAware for Windows 7 to 8.1")

if problems:
    print("\n".join(file_name + ": " + p for p in problems))
    sys.exit(1)
EOF
    fail "$program.exe's version information or manifest is wrong"
done
echo "windows_files: manifest, version and icon of both programs passed"

# README.txt, in the folder and in the zip alike.
readme="$folder/README.txt"
unzip -p "$work/dist/matrix-update-windows.zip" matrix-update-windows/README.txt | cmp -s - "$readme" ||
  fail "the zip's README.txt differs from the folder's"
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "README.txt does not start with a UTF-8 byte-order mark"
iconv -f UTF-8 -t UTF-8 "$readme" > /dev/null || fail "README.txt is not UTF-8"
[ "$(grep -c $'\r$' "$readme")" = "$(wc -l < "$readme")" ] || fail "README.txt has lines without CRLF"
[ "$(tail -c 2 "$readme" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "README.txt does not end its last line"
# Every exit status matrixctl has (the EXIT_ values of cli/commands.h), one line each.
statuses=$(sed -n 's/^ *EXIT_[A-Z_]* = \([0-9]*\),$/\1/p' "$MATRIX_SOURCE_DIR/cli/commands.h")
[ "$(wc -w <<< "$statuses")" -ge 6 ] || fail "cannot read matrixctl's exit statuses from cli/commands.h"
for status in $statuses; do
  grep -q "^  $status  " "$readme" || fail "README.txt does not list exit status $status"
done
grep -q "matrix-update-<version>-x64.msi" "$readme" && grep -q "msiexec /i" "$readme" ||
  fail "README.txt does not tell how to install with the MSI"
echo "windows_files: README.txt passed"
