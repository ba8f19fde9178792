#!/usr/bin/env python3
"""Turns 24-bit BMP screenshots (the demo's and scripts/screenshots.sh's) into PNG files
beside them, for people to look at. Usage: bmp2png.py FILE.bmp..."""
import struct, zlib, sys
def convert(src, dst):
    d = open(src, 'rb').read()
    off = struct.unpack_from('<I', d, 10)[0]
    w, h = struct.unpack_from('<ii', d, 18)
    bpp = struct.unpack_from('<H', d, 28)[0]
    stride = (w * bpp // 8 + 3) & ~3
    rows = []
    for y in range(abs(h)):
        sy = abs(h) - 1 - y if h > 0 else y
        row = d[off + sy * stride: off + sy * stride + w * bpp // 8]
        px = bytearray()
        for x in range(w):
            b, g, r = row[x * bpp // 8: x * bpp // 8 + 3]
            px += bytes((r, g, b))
        rows.append(b'\0' + bytes(px))
    def chunk(t, b): return struct.pack('>I', len(b)) + t + b + struct.pack('>I', zlib.crc32(t + b) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, abs(h), 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(b''.join(rows))) + chunk(b'IEND', b'')
    open(dst, 'wb').write(png)
for bmp in sys.argv[1:]:
    convert(bmp, bmp[:-4] + ".png")
