#!/usr/bin/env python3
"""Writes the updater's stand-in artwork: the banner (380 x 69 pixels, 8 bits per
pixel, uncompressed BMP) and the program icon (32 x 32, 16 colours). The output
is a pure function of this script, so builds stay reproducible.

usage: make_artwork.py BANNER.bmp ICON.ico
"""
import struct
import sys


def bitmap_info_header(width, height, bits, colours):
    row = ((width * bits + 31) // 32) * 4
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0,
                       row * abs(height), 2835, 2835, colours, 0)


def banner():
    width, height = 380, 69
    # Palette: a dark-blue to amber ramp (0..191), then greys (192..255).
    palette = bytearray()
    for i in range(192):
        t = i / 191
        r, g, b = int(20 + 215 * t), int(30 + 140 * t), int(90 - 70 * t)
        palette += bytes((b, g, r, 0))
    for i in range(64):
        v = 64 + i * 3
        palette += bytes((v, v, v, 0))
    row = ((width * 8 + 31) // 32) * 4
    pixels = bytearray()
    for y in range(height):          # bottom-up rows
        line = bytearray()
        for x in range(width):
            index = (x * 191) // (width - 1)
            # A band of diagonal stripes across the middle, a frame around all.
            if 20 <= y < 49 and ((x + y) // 6) % 2 == 0:
                index = max(0, index - 60)
            if x < 2 or y < 2 or x >= width - 2 or y >= height - 2:
                index = 192 + 10
            line.append(index)
        line += bytes(row - width)
        pixels += line
    info = bitmap_info_header(width, height, 8, 256)
    offset = 14 + len(info) + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def icon():
    size = 32
    palette = bytearray()
    colours = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
               (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
               (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    for r, g, b in colours:
        palette += bytes((b, g, r, 0))
    xor = bytearray()
    for y in range(size):            # bottom-up rows, two pixels a byte
        for x in range(0, size, 2):
            def colour(px, py):
                if px < 2 or py < 2 or px >= size - 2 or py >= size - 2:
                    return 4                      # navy frame
                if abs(px - py) <= 2:
                    return 11                     # yellow diagonal
                return 12 if py < size // 2 else 6
            xor.append(colour(x, y) << 4 | colour(x + 1, y))
    mask = bytes(size * 4)           # everything opaque
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(mask),
                       0, 0, 16, 0)
    image = info + palette + xor + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], 'wb') as f:
        f.write(banner())
    with open(sys.argv[2], 'wb') as f:
        f.write(icon())


if __name__ == '__main__':
    main()
