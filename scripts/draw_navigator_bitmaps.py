#!/usr/bin/env python3
"""Draws the navigator's bitmaps into resources/ as XPM text.

Each NDBN_ bitmap holds two 16 x 16 glyphs side by side: the enabled one (left) and the
disabled one (right, grey with a light shadow, as disabled glyphs are drawn). TNDBNAVIGATOR
is the 24 x 24 palette image: a small bar of buttons. Run it again after changing a shape;
the XPM files are what the build uses.
"""
import math
import os

SIZE = 16
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")

# 16-colour palette (XPM key -> colour).
COLOURS = {
    " ": "None", ".": "#000000", "r": "#800000", "g": "#008000", "n": "#000080",
    "t": "#008080", "*": "#808080", "=": "#C0C0C0", "w": "#FFFFFF", "R": "#FF0000",
    "G": "#00A000", "y": "#FFFF00", "b": "#0000FF",
}


class Grid:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[" "] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def triangle(self, tip_x, mid_y, half, direction, c):
        """A solid triangle pointing left (-1) or right (+1), `half` rows above and below."""
        for i in range(half + 1):
            x = tip_x - direction * i
            for y in range(mid_y - i, mid_y + i + 1):
                self.set(x, y, c)


def glyph(name):
    g = Grid(SIZE, SIZE)
    if name == "FIRST":
        g.rect(3, 3, 4, 12, ".")
        g.triangle(6, 7, 4, -1, ".")
        g.triangle(6, 8, 4, -1, ".")
    elif name == "PRIOR":
        g.triangle(5, 7, 4, -1, ".")
        g.triangle(5, 8, 4, -1, ".")
    elif name == "NEXT":
        g.triangle(10, 7, 4, 1, ".")
        g.triangle(10, 8, 4, 1, ".")
    elif name == "LAST":
        g.triangle(9, 7, 4, 1, ".")
        g.triangle(9, 8, 4, 1, ".")
        g.rect(11, 3, 12, 12, ".")
    elif name == "INSERT":
        g.rect(7, 3, 8, 12, "n")
        g.rect(3, 7, 12, 8, "n")
    elif name == "DELETE":
        g.rect(3, 7, 12, 8, "n")
    elif name == "POST":
        for i in range(4):  # the short stroke of the tick
            g.rect(3 + i, 7 + i, 4 + i, 8 + i, "g")
        for i in range(7):  # the long stroke
            g.rect(6 + i, 10 - i, 7 + i, 11 - i, "g")
    elif name == "CANCEL":
        for i in range(9):
            g.rect(3 + i, 3 + i, 4 + i, 4 + i, "r")
            g.rect(11 - i, 3 + i, 12 - i, 4 + i, "r")
    elif name == "REFRESH":
        # Three quarters of a ring with an arrow head at its open end.
        cx, cy = 7.5, 8.0
        for y in range(SIZE):
            for x in range(SIZE):
                d = math.hypot(x - cx, y - cy)
                angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
                if 3.4 <= d <= 5.4 and not (25 < angle < 110):
                    g.set(x, y, "t")
        for row, (a, b) in enumerate([(11, 11), (10, 12), (9, 13), (8, 14)]):
            g.rect(a, 2 + row, b, 2 + row, "t")
    return g


def disabled(g):
    """Grey shape with a white shadow one pixel down and right."""
    d = Grid(SIZE, SIZE)
    for y in range(SIZE):
        for x in range(SIZE):
            if g.px[y][x] != " ":
                d.set(x + 1, y + 1, "w")
    for y in range(SIZE):
        for x in range(SIZE):
            if g.px[y][x] != " ":
                d.set(x, y, "*")
    return d


def xpm(name, comment, rows):
    used = sorted({c for row in rows for c in row} | {" "})
    lines = ["/* XPM */", "/* %s */" % comment, "static const char *const %s[] = {" % name,
             '"%d %d %d 1",' % (len(rows[0]), len(rows), len(used))]
    lines += ['"%s c %s",' % (c, COLOURS[c]) for c in used]
    lines += ['"%s"%s' % (row, "," if i + 1 < len(rows) else "") for i, row in enumerate(rows)]
    lines.append("};")
    with open(os.path.join(OUT, name + ".xpm"), "w") as f:
        f.write("\n".join(lines) + "\n")


def button_bitmap(word):
    g = glyph(word)
    d = disabled(g)
    rows = ["".join(g.px[y]) + "".join(d.px[y]) for y in range(SIZE)]
    xpm("NDBN_" + word, "Navigator button %s: enabled glyph, then disabled glyph." % word.lower(), rows)


# The four arrow glyphs of the palette image, 4 x 8 each: first, prior, next, last.
PALETTE_ARROWS = [
    ["    ", ".  .", ". ..", "....", "....", ". ..", ".  .", "    "],
    ["    ", "  . ", " .. ", "... ", "... ", " .. ", "  . ", "    "],
    ["    ", " .  ", " .. ", " ...", " ...", " .. ", " .  ", "    "],
    ["    ", ".  .", ".. .", "....", "....", ".. .", ".  .", "    "],
]


def palette_bitmap():
    """Four raised buttons in a row (light top and left edge, shadow right and bottom)."""
    rows = [" " * 24] * 7
    rows.append("wwwww*" * 4)
    for y in range(8):
        rows.append("".join("w" + arrow[y].replace(" ", "=") + "*" for arrow in PALETTE_ARROWS))
    rows.append("******" * 4)
    rows += [" " * 24] * 7
    xpm("TNDBNAVIGATOR", "The navigator on the palette: a bar of buttons.", rows)


if __name__ == "__main__":
    for word in ["FIRST", "PRIOR", "NEXT", "LAST", "INSERT", "DELETE", "POST", "CANCEL", "REFRESH"]:
        button_bitmap(word)
    palette_bitmap()
