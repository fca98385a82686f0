#!/usr/bin/env python3
"""Writes res/sample.csv: the outline of a heart as 300 dots, for trying the tool out.

Each row is x,y,i1,i2,i3: the dot's position (two decimals), then i1 = 1 (dot on),
i2 = the brightness level and i3 = the dot's number in drawing order. Rebuild the binary with
    matrixctl pattern encode res/sample.csv res/sample.bin
"""
import math
import pathlib
import sys

DOTS = 300


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parent.parent / "res" / "sample.csv")
    lines = ["# A heart outline, 300 dots, for matrixctl pattern encode.", "x,y,i1,i2,i3"]
    for n in range(DOTS):
        t = 2 * math.pi * n / DOTS
        x = 16 * math.sin(t) ** 3
        y = 13 * math.cos(t) - 5 * math.cos(2 * t) - 2 * math.cos(3 * t) - math.cos(4 * t)
        # Centred on a 40 x 40 field, upright.
        level = 15 - (n * 15) // DOTS
        lines.append(f"{x + 20:.4f},{y + 20:.4f},1,{level},{n}")
    out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
