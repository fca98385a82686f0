#!/usr/bin/env bash
# Makes the archives the reader's tests read, with real tools: Python's zipfile, Info-ZIP zip
# and bsdtar. The archives are committed; run this again only to change them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A small tree with fixed contents and times.
mkdir -p tree/skins/dark
printf 'QWidget { color: #222; }\n' > tree/skins/plain.qss
printf 'QWidget { background: #111; color: #eee; }\n' > tree/skins/dark/night.qss
python3 -c 'import sys; sys.stdout.write("".join("line %05d of a text that deflates well\n" % i for i in range(2000)))' > tree/big.txt
find tree -exec touch -h -d '2023-06-15 08:30:00 UTC' {} +

# Python: stored and deflated entries, directory entries, a long comment.
python3 - "$here" <<'PY'
import sys, zipfile, io
out = sys.argv[1]
big = open("tree/big.txt", "rb").read()
with zipfile.ZipFile(out + "/py_mixed.zip", "w") as z:
    z.writestr(zipfile.ZipInfo("stored.txt", (2023, 6, 15, 8, 30, 0)), b"stored bytes\n", zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo("deflated.txt", (2023, 6, 15, 8, 30, 0)), big, zipfile.ZIP_DEFLATED)
    d = zipfile.ZipInfo("skins/", (2023, 6, 15, 8, 30, 0))
    d.external_attr = (0o40755 << 16) | 0x10
    z.writestr(d, b"")
    z.writestr(zipfile.ZipInfo("skins/a.skin", (2023, 6, 15, 8, 30, 0)), b"QWidget {}\n", zipfile.ZIP_DEFLATED)
with zipfile.ZipFile(out + "/py_comment.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("a.txt", (2023, 6, 15, 8, 30, 0)), b"comment test\n", zipfile.ZIP_DEFLATED)
    z.comment = b"C" * 60000

# Written to a stream that cannot seek: sizes and CRC go into data descriptors (flag bit 3).
class Unseekable(io.RawIOBase):
    def __init__(self): self.buf = bytearray()
    def writable(self): return True
    def write(self, b): self.buf += b; return len(b)
stream = Unseekable()
with zipfile.ZipFile(stream, "w") as z:
    z.writestr(zipfile.ZipInfo("described.txt", (2023, 6, 15, 8, 30, 0)), big, zipfile.ZIP_DEFLATED)
    with z.open(zipfile.ZipInfo("streamed.txt", (2023, 6, 15, 8, 30, 0)), "w") as f:
        f.write(b"streamed with a data descriptor\n")
open(out + "/py_descriptor.zip", "wb").write(bytes(stream.buf))

# Names that would leave the target directory, and an entry compressed with bzip2.
with zipfile.ZipFile(out + "/py_unsafe.zip", "w") as z:
    for name in ["../evil.txt", "/tmp/abs.txt", "C:drive.txt", "..\\back.txt", "ok/../../up.txt", "fine.txt"]:
        z.writestr(zipfile.ZipInfo(name, (2023, 6, 15, 8, 30, 0)), b"x\n", zipfile.ZIP_DEFLATED)
with zipfile.ZipFile(out + "/py_bzip2.zip", "w") as z:
    z.writestr(zipfile.ZipInfo("b.txt", (2023, 6, 15, 8, 30, 0)), b"bzip2 data\n" * 20, zipfile.ZIP_BZIP2)
PY

# Info-ZIP zip: directories with files under them, "UT" and "ux" extra blocks.
(cd tree && TZ=UTC zip -q -r "$here/infozip_tree.zip" skins big.txt)
# Read-only file kept read-only.
chmod 0444 tree/skins/plain.qss
(cd tree && TZ=UTC zip -q "$here/infozip_readonly.zip" skins/plain.qss)
chmod 0644 tree/skins/plain.qss
# Streamed from standard input: a data descriptor again, this time from zip.
TZ=UTC zip -q - - < tree/skins/plain.qss | cat > "$here/infozip_stdin.zip"
# ZIP64 forced on a small file: the end records and the entry's sizes in ZIP64 form.
(cd tree && TZ=UTC zip -q -fz "$here/infozip_zip64.zip" skins/plain.qss)
# Encrypted with the traditional password scheme.
(cd tree && TZ=UTC zip -q -P secret "$here/infozip_encrypted.zip" skins/plain.qss)

# bsdtar: its own zip writer.
rm -f "$here/bsdtar_tree.zip"
(cd tree && bsdtar --format zip -cf "$here/bsdtar_tree.zip" skins big.txt)

# Data in front of an archive, as a self-extracting stub leaves it (offsets not adjusted).
{ head -c 3000 /dev/zero | tr '\0' 'S'; cat "$here/py_mixed.zip"; } > "$here/prefixed.zip"
