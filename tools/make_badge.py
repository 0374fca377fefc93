#!/usr/bin/env python3
"""Draws the "Scanning..." badge and writes it as res/badge.png.

120 x 120 RGBA, 8 bits per channel, not interlaced, with an sRGB chunk:
a dark rounded square at alpha 179 with transparent corners, a round
blue-and-white emblem (a magnifying glass on a blue disc in a white ring)
in the upper part and the caption in light grey below it.

Standard library only. Edges are anti-aliased by sampling each pixel on a
4 x 4 grid. The output depends only on this script and zlib.

    python3 tools/make_badge.py [OUTPUT]
"""
import math
import os
import struct
import sys
import zlib

SIZE = 120
SAMPLES = 4

PANEL = (20, 20, 24)
PANEL_ALPHA = 179
PANEL_RADIUS = 16
RING = (255, 255, 255)
DISC = (30, 120, 230)
GLASS = (255, 255, 255)
CAPTION = (214, 214, 214)

EMBLEM_CENTRE = (60.0, 47.0)
EMBLEM_RADIUS = 31.0
RING_WIDTH = 3.5

# A tiny bitmap font: just the glyphs of the caption. Rows 0-6 stand above
# the baseline, rows 7-8 hold descenders.
FONT = {
    "S": [".###.",
          "#...#",
          "#....",
          ".###.",
          "....#",
          "#...#",
          ".###.",
          ".....",
          "....."],
    "c": ["....",
          "....",
          ".###",
          "#...",
          "#...",
          "#...",
          ".###",
          "....",
          "...."],
    "a": [".....",
          ".....",
          ".###.",
          "....#",
          ".####",
          "#...#",
          ".####",
          ".....",
          "....."],
    "n": ["....",
          "....",
          "###.",
          "#..#",
          "#..#",
          "#..#",
          "#..#",
          "....",
          "...."],
    "i": ["#",
          ".",
          "#",
          "#",
          "#",
          "#",
          "#",
          ".",
          "."],
    "g": ["....",
          "....",
          ".###",
          "#..#",
          "#..#",
          "#..#",
          ".###",
          "...#",
          "###."],
    ".": [".",
          ".",
          ".",
          ".",
          ".",
          ".",
          "#",
          ".",
          "."],
}
CAPTION_TEXT = "Scanning..."
CAPTION_SCALE = 2
CAPTION_TOP = 90  # top of the glyph cells, in pixels


def in_rounded_square(x, y):
    r = PANEL_RADIUS
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def emblem_colour(x, y):
    """Colour of the emblem at a sample point, or None outside it."""
    ex, ey = EMBLEM_CENTRE
    d = math.hypot(x - ex, y - ey)
    if d > EMBLEM_RADIUS:
        return None
    if d > EMBLEM_RADIUS - RING_WIDTH:
        return RING
    # Magnifying glass: a lens ring up and to the left, a handle towards
    # the lower right.
    lx, ly = ex - 5.0, ey - 5.0
    dl = math.hypot(x - lx, y - ly)
    if 9.0 <= dl <= 13.5:
        return GLASS
    # Handle: a thick segment along the diagonal.
    ux, uy = x - lx, y - ly
    along = (ux + uy) / math.sqrt(2.0)
    across = (ux - uy) / math.sqrt(2.0)
    if 12.5 <= along <= 25.0 and abs(across) <= 3.2:
        return GLASS
    return DISC


def caption_mask():
    """Set of pixels covered by the caption, centred horizontally."""
    widths = [len(FONT[ch][0]) for ch in CAPTION_TEXT]
    total = (sum(widths) + len(widths) - 1) * CAPTION_SCALE
    left = (SIZE - total) // 2
    covered = set()
    x0 = left
    for ch, w in zip(CAPTION_TEXT, widths):
        for row, line in enumerate(FONT[ch]):
            for col, cell in enumerate(line):
                if cell != "#":
                    continue
                for dy in range(CAPTION_SCALE):
                    for dx in range(CAPTION_SCALE):
                        covered.add((x0 + col * CAPTION_SCALE + dx,
                                     CAPTION_TOP + row * CAPTION_SCALE + dy))
        x0 += (w + 1) * CAPTION_SCALE
    return covered


def over(src, src_a, dst, dst_a):
    """Straight-alpha "over" of two colours with alphas in 0..1."""
    out_a = src_a + dst_a * (1.0 - src_a)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0), 0.0
    out = tuple((s * src_a + d * dst_a * (1.0 - src_a)) / out_a
                for s, d in zip(src, dst))
    return out, out_a


def render():
    text = caption_mask()
    pixels = []
    step = 1.0 / SAMPLES
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            panel_hits = 0
            emblem_sum = [0.0, 0.0, 0.0]
            emblem_hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) * step
                    y = py + (sy + 0.5) * step
                    if in_rounded_square(x, y):
                        panel_hits += 1
                    c = emblem_colour(x, y)
                    if c is not None:
                        emblem_hits += 1
                        for i in range(3):
                            emblem_sum[i] += c[i]
            n = SAMPLES * SAMPLES
            colour, alpha = PANEL, PANEL_ALPHA / 255.0 * panel_hits / n
            if emblem_hits:
                emblem = tuple(v / emblem_hits for v in emblem_sum)
                colour, alpha = over(emblem, emblem_hits / n, colour, alpha)
            if (px, py) in text:
                colour, alpha = over(CAPTION, 1.0, colour, alpha)
            a = int(round(alpha * 255))
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(v)) for v in colour) + (a,))
        pixels.append(row)
    return pixels


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filtered_rows(pixels):
    """Each row with the PNG filter that gives the smallest absolute sum."""
    bpp = 4
    previous = bytes(SIZE * bpp)
    out = bytearray()
    for row in pixels:
        raw = bytes(v for px in row for v in px)
        candidates = []
        for kind in range(5):
            f = bytearray()
            for i, v in enumerate(raw):
                a = raw[i - bpp] if i >= bpp else 0
                b = previous[i]
                c = previous[i - bpp] if i >= bpp else 0
                pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
                f.append((v - pred) & 0xFF)
            score = sum(v if v < 128 else 256 - v for v in f)
            candidates.append((score, kind, bytes(f)))
        _, kind, data = min(candidates)
        out.append(kind)
        out += data
        previous = raw
    return bytes(out)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(pixels):
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", header)
            + chunk(b"sRGB", b"\x00")  # perceptual rendering intent
            + chunk(b"IDAT", zlib.compress(filtered_rows(pixels), 9))
            + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "badge.png")
    data = encode_png(render())
    with open(target, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (os.path.normpath(target), len(data)))


if __name__ == "__main__":
    main()
