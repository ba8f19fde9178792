#!/usr/bin/env python3
"""Writes the skins (res/ButtonSkin.bmp, res/NotifierSkin.bmp, each also at twice the
size as ...2x.bmp) as 8-bit RLE-compressed
BMP files, the icon (res/Updater.ico, its largest image PNG-compressed) and the small
test images (tests/ui/bitmaps/*.bmp) as 24-bit bottom-up BMP files: what ships stays
small. Run from anywhere."""
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y = 0 at the top."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(header + info + data)


def write_rle8(path, width, height, pixel):
    """The same picture with a palette of its colours (at most 256), run-length encoded."""
    grid = [[pixel(x, y) for x in range(width)] for y in range(height)]
    palette = sorted({c for row in grid for c in row})
    assert len(palette) <= 256, path
    index = {c: i for i, c in enumerate(palette)}
    data = bytearray()
    for row in reversed(grid):
        x = 0
        while x < width:
            n = 1
            while x + n < width and n < 255 and row[x + n] == row[x]:
                n += 1
            data += bytes((n, index[row[x]]))
            x += n
        data += b"\0\0"  # end of line
    data[-1] = 1  # end of bitmap
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    start = 54 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", start + len(data), 0, 0, start)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(data), 2835, 2835, len(palette), 0)
    with open(path, "wb") as f:
        f.write(header + info + colours + bytes(data))


def png(size, pixel):
    """An RGBA PNG of pixel(x, y) -> (r, g, b, a)."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(size)) for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def solid(colour):
    return lambda x, y: colour


def within(v, first, last):
    """Whether v, a position in 96 DPI pixels, falls in pixels first to last: at 1x v is
    a pixel's index, at 2x the centre of a half pixel."""
    return first - 0.5 <= v < last + 0.5


def art(width, height, scale, pixel):
    """The picture drawn at `scale` times its 96 DPI size: pixel(x, y) is asked at each
    pixel's centre in 96 DPI units, so finer art gets finer edges and steps."""
    return (width * scale, height * scale, lambda x, y: pixel((x + 0.5) / scale - 0.5, (y + 0.5) / scale - 0.5))


def button_skin(x, y):
    if within(x, 0, 0) or within(x, 79, 79) or within(y, 0, 0) or within(y, 20, 20):
        return (128, 128, 128)
    return (77, 79, 194)


STRIPE = [(114, (255, 204, 0)), (161, (230, 40, 40)), (202, (40, 180, 70)), (234, (40, 110, 230))]


def notifier_skin(x, y):
    """240 x 100: a blue gradient, a grey frame, a four-colour stripe and, top right,
    a round badge with an upward arrow. No pixel is the key colour (255, 0, 255)."""
    if within(y, 92, 93) and within(x, 5, 234):
        return next(colour for last, colour in STRIPE if x < last + 0.5)
    if ((within(x, 4, 4) or within(x, 235, 235)) and within(y, 3, 96)) or (
            (within(y, 3, 3) or within(y, 96, 96)) and within(x, 4, 235)):
        return (119, 119, 124)
    dx, dy = x - 219, y - 17
    if dx * dx + dy * dy <= 100:  # the badge, radius 10
        arrow = (abs(dx) <= dy + 7.5 and within(dy, -7, -2)) or (within(dx, -1, 1) and within(dy, -2, 6))
        return (255, 255, 255) if arrow else (250, 170, 40)
    t = min(max(y, 0), 70) / 70
    return (round(77 * t), round(79 * t), round(82 + (194 - 82) * t))


# Each skin also at twice the size, for screens scaled to 200 % and, scaled down, between.
for name, size, pixel in [("ButtonSkin", (80, 21), button_skin), ("NotifierSkin", (240, 100), notifier_skin)]:
    write_rle8(os.path.join(ROOT, "res", name + ".bmp"), *art(*size, 1, pixel))
    write_rle8(os.path.join(ROOT, "res", name + "2x.bmp"), *art(*size, 2, pixel))


def icon_pixel(size, x, y):
    """The application icon: an orange disc with a white upward arrow on a blue round
    square, scaled to `size`. (r, g, b, a)."""
    u, v = (x + 0.5) / size * 32 - 16, (y + 0.5) / size * 32 - 16
    if max(abs(u), abs(v)) > 15 or (abs(u) > 11 and abs(v) > 11 and (abs(u) - 11) ** 2 + (abs(v) - 11) ** 2 > 16):
        return (0, 0, 0, 0)
    if u * u + v * v <= 121:
        arrow = (abs(u) <= v + 8 and -8 <= v <= -1) or (abs(u) <= 2 and -1 <= v <= 8)
        return (255, 255, 255, 255) if arrow else (250, 170, 40, 255)
    t = (v + 16) / 32
    return (round(77 * t), round(79 * t), round(82 + 112 * t), 255)


def write_ico(path, sizes):
    images = []
    for size in sizes:
        if size >= 128:  # Windows reads PNG images in icons since Vista
            images.append(png(size, lambda x, y: icon_pixel(size, x, y)))
            continue
        rows = [b"".join(bytes((b, g, r, a)) for r, g, b, a in (icon_pixel(size, x, y) for x in range(size)))
                for y in reversed(range(size))]
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in reversed(range(size)):
            row = bytearray(mask_stride)
            for x in range(size):
                if icon_pixel(size, x, y)[3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        images.append(info + b"".join(rows) + bytes(mask))
    offset = 6 + 16 * len(sizes)
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    for size, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(directory + b"".join(images))


# The shell picks the image for the small-icon size at the screen's scale (16 to 48).
write_ico(os.path.join(ROOT, "res", "Updater.ico"), [128, 48, 40, 32, 24, 20, 16])

tests = os.path.join(ROOT, "tests", "ui", "bitmaps")
for name, colour in [("Normal", (0, 128, 0)), ("Pressed", (0, 0, 160)), ("Hover", (160, 0, 160)),
                     ("Disabled", (96, 96, 0)), ("Focus", (0, 128, 128))]:
    write_bmp(os.path.join(tests, name + ".bmp"), 16, 8, solid(colour))
# Top half red, bottom half blue: tiling and stretching put different halves at y = 10.
write_bmp(os.path.join(tests, "Halves.bmp"), 16, 8, lambda x, y: (255, 0, 0) if y < 4 else (0, 0, 255))
# A 42 x 20 notifier skin of one colour with its top right corner cut by the key colour,
# also at twice the size: the custom scales reduce that art. 42, 53 and 63 pixels wide
# at 100, 125 and 150 %: no multiple of four.
def cut_skin(x, y):
    return (255, 0, 255) if (41 - x) + y < 5.5 else (0, 0, 82)


for scale, suffix in [(1, ""), (2, "2x")]:
    write_bmp(os.path.join(tests, "CutSkin" + suffix + ".bmp"), *art(42, 20, scale, cut_skin))
# White is the transparent key of draw mode 0: the first four columns are cut away.
write_bmp(os.path.join(tests, "Shape.bmp"), 24, 12, lambda x, y: (255, 255, 255) if x < 4 else (0, 128, 0))
