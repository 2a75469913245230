#!/usr/bin/env python3
"""Draws the program's pictures into res/: the logo bitmaps, the window icon
and the toolbar buttons. Standard library only; the output is deterministic,
so running it again gives byte-identical files.

    python3 tools/make_images.py [--preview DIR]

--preview also writes enlarged copies (nearest neighbour, on a grey ground)
for looking at the pixels.

The desktop icons (the window icon at the sizes desktops ask for, and as
SVG) go to res/icons/hicolor/<size>/apps/ under the name ICON_NAME.
"""

import math
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "res")

WHITE = (255, 255, 255)

# The program's desktop id; the desktop entry and the icons share it.
ICON_NAME = "example.vorn.VornTerm"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

# ---------------------------------------------------------------- PNG output


def png_bytes(width, height, rows, alpha):
    """rows: list of lists of (r, g, b) or (r, g, b, a) tuples."""

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_png(path, width, height, rows, alpha):
    with open(path, "wb") as f:
        f.write(png_bytes(width, height, rows, alpha))


def write_preview(path, width, height, rows, alpha, zoom):
    big = []
    for y in range(height):
        line = []
        for x in range(width):
            px = rows[y][x]
            if alpha:
                a = px[3] / 255.0
                bg = 200 if ((x + y) % 2) else 170  # checker shows the alpha
                px = tuple(int(round(px[i] * a + bg * (1 - a))) for i in range(3))
            line.extend([px[:3]] * zoom)
        big.extend([line] * zoom)
    write_png(path, width * zoom, height * zoom, big, False)


# ------------------------------------------------------------ vector shapes
# Each shape answers whether a point lies inside it; a scene is painted in
# order, the last shape containing a sample giving its colour.


class RoundRect:
    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.bbox = (x0, y0, x1, y1)

    def contains(self, x, y):
        if x < self.x0 or x > self.x1 or y < self.y0 or y > self.y1:
            return False
        r = self.r
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Ellipse:
    def __init__(self, cx, cy, rx, ry):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.bbox = (cx - rx, cy - ry, cx + rx, cy + ry)

    def contains(self, x, y):
        return ((x - self.cx) / self.rx) ** 2 + ((y - self.cy) / self.ry) ** 2 <= 1.0


class Polygon:
    def __init__(self, pts):
        self.pts = pts
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y):
        inside = False
        pts = self.pts
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return inside


class Stroke:
    """A polyline drawn with a round pen of the given width."""

    def __init__(self, pts, width):
        self.segs = list(zip(pts, pts[1:])) or [(pts[0], pts[0])]
        self.h = width / 2.0
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.bbox = (min(xs) - self.h, min(ys) - self.h, max(xs) + self.h, max(ys) + self.h)

    def contains(self, x, y):
        h2 = self.h * self.h
        for (ax, ay), (bx, by) in self.segs:
            dx, dy = bx - ax, by - ay
            ll = dx * dx + dy * dy
            t = 0.0 if ll == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
            px, py = ax + t * dx - x, ay + t * dy - y
            if px * px + py * py <= h2:
                return True
        return False


def arc(cx, cy, rx, ry, a0, a1, n=24):
    """Points of an elliptic arc, angles in degrees, y pointing down."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy - ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


def transformed(shape, sx, sy, dx, dy):
    """The shape moved and scaled: world = design * s + d."""

    class T:
        pass

    t = T()
    x0, y0, x1, y1 = shape.bbox
    t.bbox = (x0 * sx + dx, y0 * sy + dy, x1 * sx + dx, y1 * sy + dy)
    t.contains = lambda x, y: shape.contains((x - dx) / sx, (y - dy) / sy)
    return t


# ------------------------------------------------------------ lettering
# A small stroke font for the word "VornTerm": cap height 10, x-height 7,
# baseline at y = 10, y pointing down.

GLYPHS = {
    "V": (7.0, [[(0, 0), (3.5, 10), (7, 0)]]),
    "T": (7.0, [[(0, 0), (7, 0)], [(3.5, 0), (3.5, 10)]]),
    "o": (6.0, [arc(3, 6.5, 3, 3.5, 0, 360, 32)]),
    "e": (6.0, [[(0.1, 6.5), (6, 6.5)] + arc(3, 6.5, 3, 3.5, 0, 312, 28)[1:]]),
    "r": (4.4, [[(0, 3), (0, 10)], [(0, 6.2)] + arc(3.6, 6.6, 3.6, 3.5, 165, 85, 8)]),
    "n": (5.6, [[(0, 3), (0, 10)], [(0, 6)] + arc(2.8, 6.2, 2.8, 3.1, 180, 0, 12) + [(5.6, 10)]]),
    "m": (8.0, [[(0, 3), (0, 10)],
                [(0, 6)] + arc(2.0, 6.2, 2.0, 3.1, 180, 0, 10) + [(4.0, 10)],
                [(4.0, 6)] + arc(6.0, 6.2, 2.0, 3.1, 180, 0, 10) + [(8.0, 10)]]),
}


def word_shapes(text, x, y, scale, pen, colours):
    """Stroke shapes for `text` with its cap line at y, left edge at x.
    colours gives one colour per letter."""
    out = []
    cx = x + pen / 2
    for ch, col in zip(text, colours):
        w, strokes = GLYPHS[ch]
        for s in strokes:
            pts = [(cx + px * scale, y + pen / 2 + py * scale) for px, py in s]
            out.append((Stroke(pts, pen), col))
        cx += w * scale + pen + 0.9 * scale
    right = max(sh.bbox[2] for sh, _ in out)
    return out, right - x


def word_width(text, scale, pen):
    _, w = word_shapes(text, 0, 0, scale, pen, [None] * len(text))
    return w


# ------------------------------------------------------------ rasteriser


def render(width, height, scene, ss=4, ground=None):
    """Samples the scene ss x ss times per pixel.

    ground given (an RGB colour): an opaque picture on that ground. A pixel
    takes the ground only when fewer than half its samples hit a shape;
    otherwise it is the mean of the hit samples, so the outline against the
    ground stays hard (no pale fringe once the ground is keyed out) while
    edges between shapes are smoothed. No shape colour may equal the ground.

    ground None: RGBA with alpha = coverage.
    """
    rows = []
    offs = [(i + 0.5) / ss for i in range(ss)]
    n = ss * ss
    for py in range(height):
        row = []
        cand_y = [(s, c) for s, c in scene if s.bbox[1] <= py + 1 and s.bbox[3] >= py]
        for px in range(width):
            cand = [(s, c) for s, c in cand_y if s.bbox[0] <= px + 1 and s.bbox[2] >= px]
            r = g = b = hits = 0
            for oy in offs:
                for ox in offs:
                    x, y = px + ox, py + oy
                    col = None
                    for s, c in reversed(cand):
                        if s.contains(x, y):
                            col = c
                            break
                    if col is not None:
                        r += col[0]
                        g += col[1]
                        b += col[2]
                        hits += 1
            if ground is not None:
                if hits * 2 < n:
                    row.append(ground)
                else:
                    px_col = (int(round(r / hits)), int(round(g / hits)), int(round(b / hits)))
                    if px_col == ground:  # never let a drawn pixel turn see-through
                        px_col = (px_col[0], px_col[1], px_col[2] - 1)
                    row.append(px_col)
            else:
                if hits == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append((int(round(r / hits)), int(round(g / hits)), int(round(b / hits)),
                                int(round(255 * hits / n))))
        rows.append(row)
    return rows


# ------------------------------------------------------------ the logo

FRAME = (52, 66, 86)
FRAME_LIGHT = (96, 112, 134)
SCREEN = (14, 30, 58)
WAVE = (64, 224, 128)
PROMPT = (64, 224, 128)
CABLE = (230, 122, 30)
PLUG = (236, 138, 40)
PRONG = (150, 158, 168)
INK = (26, 58, 128)
INK2 = (230, 122, 30)

DESIGN_W, DESIGN_H = 150.0, 100.0


def monitor_shapes(with_plug=True):
    """The terminal: a monitor showing a signal, with a cable and plug
    leaving it to the right. Design units: 150 x 100 (text goes below y=68)."""
    s = []
    mx0, my0, mx1, my1 = 18, 3, 96, 54
    s.append((RoundRect(mx0, my0, mx1, my1, 6), FRAME))
    s.append((RoundRect(mx0 + 2, my0 + 2, mx1 - 2, my0 + 5, 1.5), FRAME_LIGHT))
    s.append((RoundRect(mx0 + 6, my0 + 6, mx1 - 6, my1 - 7, 3), SCREEN))
    # The signal: a sine across the screen.
    wx0, wx1 = mx0 + 12, mx1 - 11
    wy = (my0 + 6 + my1 - 7) / 2 + 3
    pts = [(wx0 + (wx1 - wx0) * i / 60.0,
            wy - 10 * math.sin(2 * math.pi * 1.5 * i / 60.0)) for i in range(61)]
    s.append((Stroke(pts, 4.6), WAVE))
    # Stand.
    s.append((Polygon([(50, 54), (64, 54), (67, 62), (47, 62)]), FRAME))
    s.append((RoundRect(36, 61, 78, 66, 2.5), FRAME))
    if with_plug:
        # Cable from the monitor's side to a two-pronged plug.
        cable = [(mx1 - 1, 36)] + [(mx1 + 4 + 14 * i / 12.0,
                                    36 - 12 * (1 - math.cos(math.pi * i / 12.0)) / 2)
                                   for i in range(13)] + [(124, 24)]
        s.append((Stroke(cable, 4.6), CABLE))
        s.append((RoundRect(116, 14, 134, 34, 4), PLUG))
        s.append((RoundRect(133, 17, 146, 21.5, 1.5), PRONG))
        s.append((RoundRect(133, 26.5, 146, 31, 1.5), PRONG))
    return s


def logo_scene(width, height):
    # The monitor and plug span x 18..146; move them over the centred word.
    scene = [(transformed(sh, 1, 1, -7, 0), c) for sh, c in monitor_shapes()]
    # The word below, "Vorn" in ink and "Term" in the cable's orange.
    pen = 2.7
    scale = 1.72
    tw = word_width("VornTerm", scale, pen)
    words, _ = word_shapes("VornTerm", (DESIGN_W - tw) / 2, 71.5, scale, pen,
                           [INK] * 4 + [INK2] * 4)
    scene += words
    k = min(width / DESIGN_W, height / DESIGN_H)
    dx = (width - DESIGN_W * k) / 2
    dy = (height - DESIGN_H * k) / 2
    return [(transformed(sh, k, k, dx, dy), c) for sh, c in scene]


def icon_scene():
    """The monitor alone, laid out on the 32 x 32 pixel grid so that its
    straight edges fall on pixel boundaries."""
    s = [(RoundRect(1, 3, 31, 24, 3), FRAME),
         (RoundRect(3, 4, 29, 5, 0.5), FRAME_LIGHT),
         (RoundRect(4, 7, 28, 21, 1.5), SCREEN)]
    pts = [(7 + 18 * i / 40.0, 14.5 - 3.6 * math.sin(2 * math.pi * 1.5 * i / 40.0))
           for i in range(41)]
    s.append((Stroke(pts, 2.2), WAVE))
    s.append((Polygon([(13, 24), (19, 24), (20, 27), (12, 27)]), FRAME))
    s.append((RoundRect(8, 27, 24, 30, 1.5), FRAME))
    return s


def hex_colour(c):
    return "#%02x%02x%02x" % c[:3]


def icon_svg():
    """The icon scene (32 x 32 design units) as SVG, shape for shape."""
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" '
           'viewBox="0 0 32 32">']
    for shape, colour in icon_scene():
        fill = hex_colour(colour)
        if isinstance(shape, RoundRect):
            out.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>' %
                       (shape.x0, shape.y0, shape.x1 - shape.x0, shape.y1 - shape.y0,
                        shape.r, fill))
        elif isinstance(shape, Polygon):
            pts = " ".join("%g,%g" % p for p in shape.pts)
            out.append('  <polygon points="%s" fill="%s"/>' % (pts, fill))
        elif isinstance(shape, Stroke):
            pts = [shape.segs[0][0]] + [b for _, b in shape.segs]
            out.append('  <polyline points="%s" fill="none" stroke="%s" stroke-width="%g" '
                       'stroke-linecap="round" stroke-linejoin="round"/>' %
                       (" ".join("%.3f,%.3f" % p for p in pts), fill, shape.h * 2))
        else:
            raise TypeError(shape)
    out.append("</svg>")
    return "\n".join(out) + "\n"


def desktop_icons():
    """(path below res/, width, height, rows) of every desktop icon PNG."""
    base = os.path.join("icons", "hicolor")
    for size in ICON_SIZES:
        if size == 16:
            rows = pixel_art(ICON16, 16, 16)  # drawn by hand for this size
        else:
            k = size / 32.0
            scene = [(transformed(sh, k, k, 0, 0), c) for sh, c in icon_scene()]
            rows = render(size, size, scene, ss=6 if size <= 64 else 4)
        yield (os.path.join(base, "%dx%d" % (size, size), "apps", ICON_NAME + ".png"),
               size, size, rows)


# ------------------------------------------------------------ pixel art
# Small pictures are drawn pixel by pixel: one character per pixel, '.'
# transparent, other characters looked up in the palette.

PALETTE = {
    "k": (32, 32, 40, 255),      # outline
    "g": (120, 128, 140, 255),   # grey
    "l": (196, 202, 210, 255),   # light grey
    "w": (252, 252, 252, 255),   # paper
    "b": (30, 80, 190, 255),     # blue
    "c": (90, 150, 235, 255),    # light blue
    "r": (208, 40, 40, 255),     # red
    "p": (240, 150, 170, 255),   # eraser pink
    "n": (20, 140, 60, 255),     # green
    "o": (230, 122, 30, 255),    # orange
    "y": (250, 210, 60, 255),    # gold pins
    "s": (14, 30, 58, 255),      # screen
    "m": (64, 224, 128, 255),    # signal
    "f": (52, 66, 86, 255),      # frame
}

TOOLBAR = {
    # Configure Port: a nine-pin serial connector on its cable.
    32781: [
        "................",
        "................",
        "kkkkkkkkkkkkkkkk",
        "kllllllllllllllk",
        "kglyglyglyglyglk",
        ".kglllllllllllk.",
        ".kllyglyglyglgk.",
        "..kggggggggggk..",
        "...kkkkkkkkkk...",
        "......kggk......",
        "......kggk......",
        "......kggk......",
        "......kggk......",
        "......kkkk......",
        "................",
    ],
    # Pause Scrolling: two bars.
    32779: [
        "................",
        "...kkkk..kkkk...",
        "...kbbk..kbbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kcbk..kcbk...",
        "...kbbk..kbbk...",
        "...kkkk..kkkk...",
        "................",
    ],
    # Send Counter Data: "123".
    32782: [
        "................",
        "................",
        "................",
        "................",
        ".nn..nnn..nnnn..",
        "nnn.nn.nn....nn.",
        ".nn....nn....nn.",
        ".nn...nn...nnn..",
        ".nn..nn......nn.",
        ".nn.nn.......nn.",
        ".nn.nn.......nn.",
        "nnnnnnnnn.nnnn..",
        "................",
        "................",
        "................",
    ],
    # Clear Data Window: an eraser wiping a line.
    32783: [
        "................",
        "..........kkk...",
        ".........kpppk..",
        "........kppppkk.",
        ".......kppppkwk.",
        "......kppppkwwk.",
        ".....kppppkwwk..",
        "....kllllkwwk...",
        "...kllllkwwk....",
        "..kllllkwwk.....",
        "..kllllkwk......",
        "...kllkkk.......",
        "....kkk.........",
        ".rrrrrrrrrrrr...",
        "................",
    ],
    # Toggle Hex Display: "0x".
    32785: [
        "................",
        "................",
        "................",
        "..bbbb..........",
        ".bb..bb.........",
        ".bb..bb.bb...bb.",
        ".bb.bbb..bb.bb..",
        ".bbb.bb...bbb...",
        ".bb..bb...bbb...",
        ".bb..bb..bb.bb..",
        "..bbbb..bb...bb.",
        "................",
        "................",
        "................",
        "................",
    ],
    # Send Text File: a page with an arrow leaving it.
    32786: [
        "kkkkkkkk........",
        "kwwwwwkwk.......",
        "kwggwgkwwk......",
        "kwwwwwkkkk......",
        "kwgggwgwwk......",
        "kwwwwwwwwk..n...",
        "kwggwgggwk..nn..",
        "kwwwwwwwnnnnnnn.",
        "kwgggwggnnnnnnnn",
        "kwwwwwwwnnnnnnn.",
        "kwggggwgwk..nn..",
        "kwwwwwwwwk..n...",
        "kwgggwggwk......",
        "kwwwwwwwwk......",
        "kkkkkkkkkk......",
    ],
    # About: an "i" in a blue disc.
    32780: [
        ".....kkkkkk.....",
        "...kkbbbbbbkk...",
        "..kbbbbwwbbbbk..",
        ".kbbbbbwwbbbbbk.",
        ".kbbbbbbbbbbbbk.",
        "kbbbbbwwwbbbbbbk",
        "kbbbbbbwwbbbbbbk",
        "kbbbbbbwwbbbbbbk",
        "kbbbbbbwwbbbbbbk",
        "kbbbbbbwwbbbbbbk",
        ".kbbbbwwwwbbbbk.",
        ".kbbbbbbbbbbbbk.",
        "..kbbbbbbbbbbk..",
        "...kkbbbbbbkk...",
        ".....kkkkkk.....",
    ],
}

ICON16 = [
    "................",
    ".ffffffffffffff.",
    "fllllllllllllllf",
    "ffssssssssssssff",
    "ffssssssssssmsff",
    "ffsssmmssssmssff",
    "ffssmssmssmsssff",
    "ffsmssssmmssssff",
    "ffssssssssssssff",
    "ffssssssssssssff",
    ".ffffffffffffff.",
    "......ffff......",
    "......ffff......",
    "....ffffffff....",
    "....ffffffff....",
    "................",
]


def pixel_art(lines, w, h):
    assert len(lines) == h, lines
    rows = []
    for line in lines:
        assert len(line) == w, line
        rows.append([(0, 0, 0, 0) if ch == "." else PALETTE[ch] for ch in line])
    return rows


# ------------------------------------------------------------ main


def main(argv):
    preview = None
    if len(argv) >= 2 and argv[0] == "--preview":
        preview = argv[1]
        os.makedirs(preview, exist_ok=True)
    os.makedirs(RES, exist_ok=True)

    outputs = []
    for rid, (w, h) in ((144, (76, 47)), (1008, (113, 75)), (1009, (158, 105)),
                        (1010, (192, 129))):
        rows = render(w, h, logo_scene(w, h), ss=4, ground=WHITE)
        outputs.append(("bmp%d.png" % rid, w, h, rows, False))
    outputs.append(("icon128.png", 32, 32, render(32, 32, icon_scene(), ss=6), True))
    outputs.append(("icon128_16.png", 16, 16, pixel_art(ICON16, 16, 16), True))
    for cid, art in TOOLBAR.items():
        outputs.append(("tb_%d.png" % cid, 16, 15, pixel_art(art, 16, 15), True))

    for name, w, h, rows in desktop_icons():
        os.makedirs(os.path.dirname(os.path.join(RES, name)), exist_ok=True)
        outputs.append((name, w, h, rows, True))
    svg = os.path.join("icons", "hicolor", "scalable", "apps", ICON_NAME + ".svg")
    os.makedirs(os.path.dirname(os.path.join(RES, svg)), exist_ok=True)
    with open(os.path.join(RES, svg), "w", encoding="utf-8", newline="\n") as f:
        f.write(icon_svg())
    print("res/" + svg)

    for name, w, h, rows, alpha in outputs:
        write_png(os.path.join(RES, name), w, h, rows, alpha)
        if preview:
            zoom = 4 if w > 64 else 12
            write_preview(os.path.join(preview, os.path.basename(name) if "/" not in name
                                       else name.replace(os.sep, "_")), w, h, rows, alpha, zoom)
        print("res/%s %dx%d" % (name, w, h))


if __name__ == "__main__":
    main(sys.argv[1:])
