#!/usr/bin/env python3
"""Redraws the program's 32x32 XPM icon for the hicolor theme.

The SVG keeps every pixel of the XPM as a square, so it stays the same picture at
any size; the PNGs are rendered from it with rsvg-convert (Debian: librsvg2-bin).
Run it again after changing the XPM and commit what it writes:

    dist/icons/make_icons.py [ui/common/res/idr_mainframe.xpm]
"""
import pathlib
import re
import subprocess
import sys

ICON = "io.github.quillet.Quillet"
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent


def read_xpm(path):
    rows = re.findall(r'"([^"]*)"', path.read_text(encoding="ascii"))
    width, height, colours, per_pixel = map(int, rows[0].split()[:4])
    palette = {}
    for line in rows[1:1 + colours]:
        key, rest = line[:per_pixel], line[per_pixel:].split()
        value = rest[rest.index("c") + 1]
        palette[key] = None if value.lower() == "none" else value.upper()
    pixels = rows[1 + colours:1 + colours + height]
    if len(pixels) != height or any(len(row) != width * per_pixel for row in pixels):
        sys.exit(f"{path}: the pixel rows don't match the {width}x{height} header")
    grid = [[palette[row[x * per_pixel:(x + 1) * per_pixel]] for x in range(width)] for row in pixels]
    return width, height, grid


def svg(width, height, grid):
    # One rectangle per run of equal pixels in a row: a few dozen elements instead of a thousand.
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}">']
    for y, row in enumerate(grid):
        x = 0
        while x < width:
            colour, end = row[x], x + 1
            while end < width and row[end] == colour:
                end += 1
            if colour is not None:
                out.append(f'<rect x="{x}" y="{y}" width="{end - x}" height="1" fill="{colour}"/>')
            x = end
    out.append("</svg>\n")
    return "\n".join(out)


def main():
    xpm = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "ui/common/res/idr_mainframe.xpm"
    scalable = HERE / "hicolor/scalable/apps" / f"{ICON}.svg"
    scalable.parent.mkdir(parents=True, exist_ok=True)
    scalable.write_text(svg(*read_xpm(xpm)), encoding="ascii")
    for size in SIZES:
        png = HERE / f"hicolor/{size}x{size}/apps/{ICON}.png"
        png.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", str(png), str(scalable)],
                       check=True)


if __name__ == "__main__":
    main()
