#!/usr/bin/env python3
"""Draws Moss Lane's pictures: the program icon (32x32 and 16x16) and the
376x200 About bitmap, both with 4 bits per pixel in the 16-colour palette
every Windows display has, so they look the same on a VGA card.

    make-pictures.py OUTDIR [--png]

writes OUTDIR/mosslane.ico and OUTDIR/mosslane.bmp; --png adds preview
copies (mosslane-32.png, mosslane-16.png, mosslane-bmp.png) for review.

The About window draws two lines of black text centred on x = 94 at
baselines 90 and 113, so the left half of the bitmap is a calm white card
with the name above those lines and two computers on a cable below them;
the picture itself, a mossy lane with a wire on poles running to the
horizon, fills the right half and frames the card."""

import math
import os
import struct
import sys
import zlib

# The standard 16-colour palette, in the order of the VGA colour numbers.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, CYAN, WHITE = range(8, 16)

# 4x4 ordered-dither thresholds, 0..15.
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


class Canvas:
    """A grid of palette indices, row 0 at the top; None means transparent."""

    def __init__(self, width, height, colour=None):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def get(self, x, y):
        return self.pixels[y][x]

    def fill(self, inside, colour):
        """Paints every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.height):
            for x in range(self.width):
                if inside(x + 0.5, y + 0.5):
                    self.pixels[y][x] = colour(x, y) if callable(colour) else colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.pixels[y][x] = colour

    def line(self, x0, y0, x1, y1, colour):
        steps = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
        for i in range(steps + 1):
            t = i / steps
            self.put(int(round(x0 + (x1 - x0) * t)), int(round(y0 + (y1 - y0) * t)), colour)


def dither(a, b, level):
    """A colour function mixing b into a: level 0 is all a, 16 all b."""
    return lambda x, y: b if BAYER[y % 4][x % 4] < level else a


def noise(x, y, seed=0):
    """A repeatable pseudo-random value in [0, 1) per pixel, for moss speckle."""
    n = (x * 374761393 + y * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65536.0


def in_polygon(points):
    def inside(px, py):
        hit = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


# A small capital font for the name on the card: 5x7 cells, '#' is ink.
GLYPHS = {
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
}


def draw_word(canvas, text, centre_x, top, scale, colour, shadow):
    advance = 6 * scale
    width = sum(advance if ch != " " else 3 * scale for ch in text) - scale
    x = centre_x - width // 2
    for ch in text:
        if ch == " ":
            x += 3 * scale
            continue
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "#":
                    px, py = x + col * scale, top + row * scale
                    canvas.rect(px + 1, py + 1, px + scale + 1, py + scale + 1, shadow)
                    canvas.rect(px, py, px + scale, py + scale, colour)
        x += advance


# --- The About bitmap --------------------------------------------------------

BMP_W, BMP_H = 376, 200
HORIZON = 92
VANISH_X = 292


def draw_landscape(c):
    # Sky: white at the horizon deepening to cyan at the top.
    for y in range(HORIZON):
        level = 16 - (y * 17) // HORIZON
        for x in range(BMP_W):
            c.pixels[y][x] = CYAN if BAYER[y % 4][x % 4] < level else WHITE
    # Sun low over the far end of the lane.
    c.fill(lambda x, y: (x - 338) ** 2 + (y - 30) ** 2 < 13 ** 2, YELLOW)
    # Two rows of hills, the far one softened by dithering.
    far = lambda x: HORIZON - 14 - 9 * math.sin(x / 37.0) - 5 * math.sin(x / 13.0 + 1)
    near = lambda x: HORIZON - 4 - 8 * math.sin(x / 53.0 + 2) - 3 * math.sin(x / 9.0)
    c.fill(lambda x, y: y > far(x) and y < HORIZON + 2, dither(GREEN, TEAL, 6))
    c.fill(lambda x, y: y > near(x) and y < HORIZON + 2, GREEN)
    # Meadow below the horizon: moss green, brighter towards the viewer.
    def meadow(x, y):
        depth = (y - HORIZON) / (BMP_H - HORIZON)
        r = noise(x, y)
        if r < 0.10 + 0.25 * depth:
            return LIME
        if r > 0.93:
            return OLIVE
        return GREEN
    c.fill(lambda x, y: y >= HORIZON + 2, meadow)


def lane_edges(y):
    """Left and right edge of the lane at row y, widening towards the viewer."""
    t = (y - HORIZON) / (BMP_H - HORIZON)
    half = 1.5 + 60 * t * t + 10 * t
    centre = VANISH_X - 30 * t * t
    return centre - half, centre + half


def draw_lane(c):
    def surface(x, y):
        left, right = lane_edges(y + 0.5)
        edge = min(x - left, right - x) / max(1.0, right - left)
        r = noise(x, y, 3)
        # Moss creeps in from the verges and between the two wheel ruts.
        if edge < 0.10 and r < 0.6 or abs(edge - 0.5) < 0.06 and r < 0.45:
            return GREEN if r < 0.3 else OLIVE
        if r < 0.12:
            return GREY
        return SILVER if r < 0.8 else WHITE

    def inside(x, y):
        if y < HORIZON + 1:
            return False
        left, right = lane_edges(y)
        return left <= x <= right
    c.fill(inside, surface)


def draw_poles_and_wire(c):
    """Telegraph poles along the right verge carry one sagging wire to the
    horizon; they stand at equal distances, so they shrink towards it."""
    tops = []
    for i in range(9):
        t = 1.0 / (1.0 + 0.75 * i)           # nearness: 1 at the front
        y_base = HORIZON + 2 + (BMP_H - HORIZON - 6) * t
        _, right = lane_edges(y_base)
        x = right + 3 + 18 * t
        height = 4 + 92 * t
        width = max(1, int(round(5 * t)))
        xi, top, bottom = int(round(x)), int(round(y_base - height)), int(round(y_base))
        c.rect(xi, top, xi + width, bottom, OLIVE)
        if width > 2:
            c.rect(xi + width - 1, top, xi + width, bottom, BLACK)   # shaded side
        arm = max(1, int(round(11 * t)))
        arm_y = top + int(round(6 * t))
        c.rect(xi - arm, arm_y, xi + width + arm, arm_y + max(1, int(round(2 * t))), OLIVE)
        tops.append((xi + width + arm - 1, arm_y - 1))
    # The wire hangs in a shallow curve between neighbouring insulators.
    for (x0, y0), (x1, y1) in zip(tops, tops[1:]):
        sag = 0.12 * abs(x0 - x1) + 0.08 * abs(y0 - y1)
        steps = int(abs(x1 - x0) * 3) + 2
        for i in range(steps + 1):
            t = i / steps
            x = x0 + (x1 - x0) * t
            y = y0 + (y1 - y0) * t + sag * 4 * t * (1 - t)
            c.put(int(round(x)), int(round(y)), BLACK)


def draw_card(c):
    """The calm white card that carries the version and date lines."""
    left, top, right, bottom = 10, 10, 179, 190
    c.rect(left + 4, top + 4, right + 4, bottom + 4, GREY)      # shadow
    c.rect(left - 1, top - 1, right + 1, bottom + 1, BLACK)     # frame
    c.rect(left, top, right, bottom, WHITE)
    draw_word(c, "MOSS LANE", 94, 24, 3, GREEN, SILVER)
    # A rule under the name.
    c.rect(30, 59, 159, 60, GREEN)
    c.rect(30, 61, 159, 62, LIME)
    # Two small computers joined by a cable, below the text lines.
    for left_x in (42, 120):
        draw_computer(c, left_x, 134)
    for i in range(0, 101):
        t = i / 100
        x = 68 + (121 - 68) * t
        y = 158 + 7 * 4 * t * (1 - t)
        c.put(int(round(x)), int(round(y)), BLACK)
    # A strip of moss along the bottom of the card.
    c.fill(lambda x, y: left <= x < right and bottom - 14 - 4 * math.sin(x / 11.0) - 2 * noise(int(x), 0) < y < bottom,
           lambda x, y: LIME if noise(x, y, 7) < 0.25 else GREEN)


def draw_computer(c, x, y):
    """A 28x26 desktop computer: monitor with a cyan screen on a flat case."""
    c.rect(x, y, x + 26, y + 18, BLACK)            # monitor
    c.rect(x + 1, y + 1, x + 25, y + 17, SILVER)
    c.rect(x + 4, y + 3, x + 22, y + 14, TEAL)
    c.rect(x + 5, y + 4, x + 21, y + 13, CYAN)
    c.rect(x + 10, y + 18, x + 16, y + 20, GREY)   # neck
    c.rect(x - 1, y + 20, x + 27, y + 26, BLACK)   # case
    c.rect(x, y + 21, x + 26, y + 25, SILVER)
    c.rect(x + 3, y + 22, x + 11, y + 23, GREY)    # drive slot
    c.rect(x + 22, y + 22, x + 24, y + 24, GREEN)  # power light


def draw_about_bitmap():
    c = Canvas(BMP_W, BMP_H, WHITE)
    draw_landscape(c)
    draw_lane(c)
    draw_poles_and_wire(c)
    draw_card(c)
    return c


# --- The icon ------------------------------------------------------------------

def draw_icon(size):
    """A rounded tile: sky, mossy ground and a lane running to the horizon,
    drawn at each size from the same shapes so the small one stays clean."""
    c = Canvas(size, size, None)
    s = size / 32.0
    radius = 6 * s
    horizon = 13 * s

    def in_tile(x, y):
        dx = max(radius - x, 0, x - (size - radius))
        dy = max(radius - y, 0, y - (size - radius))
        return dx * dx + dy * dy <= radius * radius

    def ground_lane(x, y):
        if y < horizon:
            return CYAN if y < horizon * 0.55 else WHITE
        t = (y - horizon) / (size - horizon)
        half = 1 * s + 10 * s * t
        centre = size / 2 + 3 * s - 3 * s * t
        if abs(x - centre) <= half:
            return SILVER
        return GREEN

    c.fill(in_tile, lambda x, y: ground_lane(x + 0.5, y + 0.5))
    # Hill line and the outline of the tile.
    for x in range(size):
        y = int(horizon - 1.5 * s * (1 + math.sin(x / (5.0 * s))))
        for yy in range(y, int(horizon)):
            if c.get(x, yy) is not None:
                c.pixels[yy][x] = GREEN
    for y in range(size):
        for x in range(size):
            if c.get(x, y) is None:
                continue
            edge = any(not (0 <= x + dx < size and 0 <= y + dy < size) or c.get(x + dx, y + dy) is None
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                c.pixels[y][x] = BLACK
    # A pole at the right of the lane; at full size its wire runs to the horizon
    # (at 16 pixels the wire would only be a smudge).
    pole_x = int(round(25 * s))
    c.rect(pole_x, int(8 * s), pole_x + max(1, int(2 * s)), int(27 * s), OLIVE)
    if size >= 32:
        c.line(pole_x - 1, 9 * s, 15 * s, horizon, BLACK)
    return c


# --- File writers --------------------------------------------------------------

def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def packed_rows(canvas, transparent=BLACK):
    """4-bit rows, bottom-up, each padded to a multiple of 4 bytes."""
    stride = ((canvas.width * 4 + 31) // 32) * 4
    out = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(canvas.width):
            v = canvas.get(x, y)
            v = transparent if v is None else v
            row[x // 2] |= v << 4 if x % 2 == 0 else v
        out += row
    return bytes(out)


def mask_rows(canvas):
    """The AND mask: 1 where the icon is transparent, rows bottom-up."""
    stride = ((canvas.width + 31) // 32) * 4
    out = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(canvas.width):
            if canvas.get(x, y) is None:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 0)


def bmp_bytes(canvas):
    pixels = packed_rows(canvas)
    offset = 14 + 40 + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info_header(canvas.width, canvas.height, len(pixels)) + palette_bytes() + pixels


def ico_bytes(canvases):
    images = []
    for c in canvases:
        xor, andmask = packed_rows(c), mask_rows(c)
        # An icon image's header counts the XOR and AND halves in its height.
        images.append(info_header(c.width, c.height * 2, len(xor) + len(andmask)) + palette_bytes() + xor + andmask)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width, c.height, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def png_bytes(canvas, zoom=1, backdrop=(0xE0, 0xE0, 0xE0)):
    rows = bytearray()
    for y in range(canvas.height * zoom):
        rows.append(0)
        for x in range(canvas.width * zoom):
            v = canvas.get(x // zoom, y // zoom)
            rows += bytes(backdrop if v is None else PALETTE[v])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", canvas.width * zoom, canvas.height * zoom, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")


def write(path, data):
    # Write beside and rename, so a build never sees half a file.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    if len(args) != 1:
        print("usage: make-pictures.py OUTDIR [--png]", file=sys.stderr)
        return 2
    outdir = args[0]
    os.makedirs(outdir, exist_ok=True)
    icons = [draw_icon(32), draw_icon(16)]
    about = draw_about_bitmap()
    write(os.path.join(outdir, "mosslane.ico"), ico_bytes(icons))
    write(os.path.join(outdir, "mosslane.bmp"), bmp_bytes(about))
    if "--png" in argv:
        write(os.path.join(outdir, "mosslane-32.png"), png_bytes(icons[0], 8))
        write(os.path.join(outdir, "mosslane-16.png"), png_bytes(icons[1], 8))
        write(os.path.join(outdir, "mosslane-bmp.png"), png_bytes(about, 2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
