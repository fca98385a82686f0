#!/usr/bin/env python3
"""Writes a packed bitmap (info header, then pixels) as a .bmp file: the same bytes behind the
14-byte file header that a resource compiler expects, and drops again when it stores them."""
import struct
import sys

def main():
    src, dst = sys.argv[1], sys.argv[2]
    with open(src, "rb") as f:
        dib = f.read()
    if len(dib) < 40:
        sys.exit(f"{src}: too short for a bitmap info header")
    header_size, = struct.unpack_from("<I", dib, 0)
    bit_count, = struct.unpack_from("<H", dib, 14)
    colours, = struct.unpack_from("<I", dib, 32)
    if bit_count <= 8 and colours == 0:
        colours = 1 << bit_count
    offset = 14 + header_size + 4 * colours
    with open(dst, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, offset) + dib)

if __name__ == "__main__":
    main()
