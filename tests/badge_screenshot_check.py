#!/usr/bin/env python3
"""Checks a screenshot of the badge against the badge picture itself.

    badge_screenshot_check.py BADGE_PNG SCREENSHOT_PPM X Y BACKGROUND [--quiet]

BACKGROUND is the colour under the badge as six hex digits. Every pixel of
the 120 x 120 badge at (X, Y) must show the picture's premultiplied colour
blended over the background (result = colour * alpha / 255 truncated, plus
background * (255 - alpha) / 255), within 2 per channel for the rounding of
the compositor. Pixels just outside the badge must show the background.
Exit status 0 when everything matches, 1 otherwise.
"""
import struct
import sys
import zlib

TOLERANCE = 2


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 6, 0), "expected 8-bit RGBA, not interlaced"
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        previous = line
    return width, height, rows


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", "expected an 8-bit binary PPM"
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:]

    def at(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])
    return width, height, at


def close(a, b, tolerance=TOLERANCE):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def main():
    args = [a for a in sys.argv[1:] if a != "--quiet"]
    quiet = "--quiet" in sys.argv
    badge_path, shot_path, left, top, background = args
    left, top = int(left), int(top)
    bg = tuple(int(background[i:i + 2], 16) for i in (0, 2, 4))
    width, height, picture = read_png(badge_path)
    _, _, shot = read_ppm(shot_path)
    problems = []

    def expect(cond, text):
        if not cond:
            problems.append(text)

    def blended(x, y):
        r, g, b, a = picture[y][x]
        return tuple(c * a // 255 + (k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), bg))

    # The whole picture, pixel for pixel.
    wrong = []
    for y in range(height):
        for x in range(width):
            want, got = blended(x, y), shot(left + x, top + y)
            if not close(want, got):
                wrong.append((x, y, want, got))
    expect(not wrong, "%d of %d badge pixels differ from the blended picture, first %s"
           % (len(wrong), width * height, wrong[:4]))

    # The frame around it shows the background: the badge is exactly there.
    frame = [(x, top - 1) for x in range(left - 1, left + width + 1)]
    frame += [(x, top + height) for x in range(left - 1, left + width + 1)]
    frame += [(left - 1, y) for y in range(top, top + height)]
    frame += [(left + width, y) for y in range(top, top + height)]
    off = [(p, shot(*p)) for p in frame if not close(shot(*p), bg, 1)]
    expect(not off, "%d pixels around the badge are not the background, first %s"
           % (len(off), off[:4]))

    # What a person would look for.
    for name, (x, y) in (("top-left", (0, 0)), ("top-right", (width - 1, 0)),
                         ("bottom-left", (0, height - 1)),
                         ("bottom-right", (width - 1, height - 1))):
        got = shot(left + x, top + y)
        expect(close(got, bg, 1), "%s corner %s is not the background %s" % (name, got, bg))
    square = shot(left + 4, top + height // 2)
    expect(sum(square) < 0.4 * sum(bg),
           "the dark square at its left middle is not dark: %s over %s" % (square, bg))
    expect(square != bg and not close(square, (0, 0, 0), 8),
           "the dark square shows no blending: %s" % (square,))
    emblem = shot(left + 75, top + 30)
    expect(emblem[2] > 180 and emblem[2] > emblem[0] + 100,
           "the emblem is not blue: %s" % (emblem,))
    caption = shot(left + 18, top + 90)
    expect(close(caption, (214, 214, 214)), "the caption is not light grey: %s" % (caption,))

    if problems:
        if not quiet:
            for p in problems:
                print("badge check: " + p)
        return 1
    if not quiet:
        print("badge check: all %d pixels of the badge at %d,%d match the picture blended "
              "over #%s" % (width * height, left, top, background))
    return 0


if __name__ == "__main__":
    sys.exit(main())
