#!/usr/bin/env python3
"""Pixels of the virtual display for the Windows person tests, read from the framebuffer file
Xvfb keeps with -fbdir (an XWD image it updates as it draws), so no screenshot program is
needed. Colours are #rrggbb; the distance of two colours is the sum of their channel
differences.

  screen_pixels.py palette SKIN.qss             the skin's colours, as NAME=#rrggbb lines
  screen_pixels.py dominant FB X Y W H          the colour most pixels of the rectangle have
  screen_pixels.py standout FB X Y W H COLOUR D how many of its pixels are D or more from COLOUR
  screen_pixels.py grab FB X Y W H OUT.png      the rectangle as a PNG file
  screen_pixels.py differ A.png B.png D         how many pixels of two grabs are D or more apart
  screen_pixels.py dots FB X Y W H COLOUR ROWS  whether the rectangle shows a dot of COLOUR at each
                                                (x, y) of the CSV ROWS (matrixctl pattern decode),
                                                x to the right and y up, on one scale across and up
"""
import re
import struct
import sys
import zlib


def read_screen(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    if bits_per_pixel != 32:
        sys.exit("screen_pixels: the display must have 24-bit colour (32 bits a pixel)")
    start = header_size + 12 * ncolors
    fmt = "<I" if byte_order == 0 else ">I"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in masks]

    def pixel(x, y):
        value = struct.unpack_from(fmt, data, start + y * bytes_per_line + 4 * x)[0]
        return tuple((value & m) >> s for m, s in zip(masks, shifts))

    return width, height, pixel


def rectangle(fb, x, y, w, h):
    width, height, pixel = read_screen(fb)
    x, y, w, h = int(x), int(y), int(w), int(h)
    if x < 0 or y < 0 or w <= 0 or h <= 0 or x + w > width or y + h > height:
        sys.exit("screen_pixels: rectangle %d,%d %dx%d is not on the %dx%d screen" % (x, y, w, h, width, height))
    return [[pixel(x + i, y + j) for i in range(w)] for j in range(h)]


def colour(text):
    if not re.fullmatch(r"#[0-9a-fA-F]{6}", text):
        sys.exit("screen_pixels: not a colour: " + text)
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def hex_colour(rgb):
    return "#%02x%02x%02x" % rgb


def distance(a, b):
    return sum(abs(p - q) for p, q in zip(a, b))


def write_png(path, rows):
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for rgb in row for c in rgb) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def read_png(path):
    """Reads back a PNG written by write_png (8-bit RGB, no filters)."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, w, h = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            w, h = struct.unpack_from(">II", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + 3 * w
    return [[tuple(raw[j * stride + 1 + 3 * i:j * stride + 4 + 3 * i]) for i in range(w)] for j in range(h)]


def skin_palette(path):
    """The colours a skinned dialog must show, read from the skin file's rules by name."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
    rules = {}
    for selectors, body in re.findall(r"([^{}]+)\{([^}]*)\}", text):
        for selector in selectors.split(","):
            for name, value in re.findall(r"([\w-]+)\s*:\s*([^;]+)", body):
                rules.setdefault(selector.strip(), {})[name.strip()] = value.strip()
    pick = {
        "window": ("QDialog", "background-color"),
        "text": ("QWidget", "color"),
        "base": ("QLineEdit", "background-color"),
        "button": ("QPushButton", "background-color"),
        "accent": ("QProgressBar::chunk", "background-color"),
    }
    for name, (selector, prop) in pick.items():
        print("%s=%s" % (name, rules[selector][prop]))


def dot_components(rows, ref):
    """The groups of touching pixels near ref, as lists of (x, y)."""
    h, w = len(rows), len(rows[0])
    near = [[distance(rows[j][i], ref) < 90 for i in range(w)] for j in range(h)]
    seen, groups = set(), []
    for j in range(h):
        for i in range(w):
            if not near[j][i] or (i, j) in seen:
                continue
            group, todo = [], [(i, j)]
            seen.add((i, j))
            while todo:
                x, y = todo.pop()
                group.append((x, y))
                for dx in (-1, 0, 1):
                    for dy in (-1, 0, 1):
                        q = (x + dx, y + dy)
                        if 0 <= q[0] < w and 0 <= q[1] < h and near[q[1]][q[0]] and q not in seen:
                            seen.add(q)
                            todo.append(q)
            groups.append(group)
    return groups


def check_dots(rows, ref, csv_path):
    """Finds the pattern's dots among the pixels of ref and checks each record has its dot where
    its values put it relative to the others. A lone group far from every other (the legend's
    dot) is not part of the pattern."""
    values = []
    with open(csv_path) as f:
        for line in f:
            parts = line.strip().split(",")
            try:
                values.append((float(parts[0]), float(parts[1])))
            except (ValueError, IndexError):
                continue  # the header
    if not values:
        return "no records in " + csv_path
    groups = sorted(dot_components(rows, ref), key=len, reverse=True)
    if not groups:
        return "no pixel of the dots' colour"

    boxes = [(min(p[0] for p in g), min(p[1] for p in g), max(p[0] for p in g), max(p[1] for p in g)) for g in groups]

    def gap(a, b):
        return max(a[0] - b[2], b[0] - a[2], a[1] - b[3], b[1] - a[3], 0)

    # The largest group is the pattern's own; a smaller one stays when it lies near another, as
    # the dots of a pattern do (a few pixels apart) and the legend's (beside the frame) does not.
    pixels = [p for k, g in enumerate(groups)
              if k == 0 or min(gap(boxes[k], boxes[n]) for n in range(len(groups)) if n != k) < 12 for p in g]
    if len(pixels) < len(values):
        return "only %d pixels of the dots' colour for %d records" % (len(pixels), len(values))
    x0, x1 = min(p[0] for p in pixels), max(p[0] for p in pixels)
    y0, y1 = min(p[1] for p in pixels), max(p[1] for p in pixels)
    vx0, vx1 = min(v[0] for v in values), max(v[0] for v in values)
    vy0, vy1 = min(v[1] for v in values), max(v[1] for v in values)
    sx, sy = (x1 - x0) / max(vx1 - vx0, 1e-9), (y1 - y0) / max(vy1 - vy0, 1e-9)
    if abs(sx - sy) > 0.08 * max(sx, sy):
        return "x and y are not drawn on one scale: %.2f and %.2f pixels a unit" % (sx, sy)
    dots = set(pixels)

    def dot_near(vx, vy):
        px, py = x0 + (vx - vx0) * sx, y0 + (vy1 - vy) * sy
        return any((round(px) + dx, round(py) + dy) in dots for dx in range(-3, 4) for dy in range(-3, 4))

    missing = [v for v in values if not dot_near(*v)]
    if missing:
        return "%d of %d records have no dot where their values put it, the first at x %g, y %g" % (
            len(missing), len(values), missing[0][0], missing[0][1])
    return ""


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "palette" and len(argv) == 3:
        skin_palette(argv[2])
    elif command == "dominant" and len(argv) == 7:
        counts = {}
        for row in rectangle(*argv[2:7]):
            for rgb in row:
                counts[rgb] = counts.get(rgb, 0) + 1
        print(hex_colour(max(counts, key=counts.get)))
    elif command == "standout" and len(argv) == 9:
        ref, limit = colour(argv[7]), int(argv[8])
        print(sum(distance(rgb, ref) >= limit for row in rectangle(*argv[2:7]) for rgb in row))
    elif command == "grab" and len(argv) == 8:
        write_png(argv[7], rectangle(*argv[2:7]))
    elif command == "differ" and len(argv) == 5:
        a, b, limit = read_png(argv[2]), read_png(argv[3]), int(argv[4])
        if len(a) != len(b) or len(a[0]) != len(b[0]):
            sys.exit("screen_pixels: the two grabs differ in size")
        print(sum(distance(p, q) >= limit for ra, rb in zip(a, b) for p, q in zip(ra, rb)))
    elif command == "dots" and len(argv) == 9:
        problem = check_dots(rectangle(*argv[2:7]), colour(argv[7]), argv[8])
        if problem:
            sys.exit("screen_pixels: " + problem)
        print("ok")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
