#!/usr/bin/env python3
"""Writes the placeholder game icon: one 48x48 image, 32 bits per pixel.

A rounded square with a vertical gradient and a lighter play mark, so the
shortcut is recognisable. Standard library only; the output is byte-for-byte
the same on every run.

    python3 tools/testkit/make_icon.py res/game.ico
"""
import struct
import sys

SIZE = 48


def pixel(x, y):
    """BGRA of one pixel (y counted from the top)."""
    radius = 9
    inside = True
    for cx, cy in ((radius, radius), (SIZE - 1 - radius, radius),
                   (radius, SIZE - 1 - radius), (SIZE - 1 - radius, SIZE - 1 - radius)):
        near_x = x < radius if cx == radius else x > SIZE - 1 - radius
        near_y = y < radius if cy == radius else y > SIZE - 1 - radius
        if near_x and near_y and (x - cx) ** 2 + (y - cy) ** 2 > radius * radius:
            inside = False
    if not inside:
        return (0, 0, 0, 0)
    # A play triangle pointing right, centred.
    left, right, top, bottom = 17, 34, 13, 35
    mid = (top + bottom) / 2
    if left <= x <= right:
        half = (bottom - top) / 2 * (1 - (x - left) / (right - left))
        if mid - half <= y <= mid + half:
            return (250, 245, 240, 255)
    t = y / (SIZE - 1)
    red = int(40 + 30 * t)
    green = int(150 - 70 * t)
    blue = int(230 - 60 * t)
    return (blue, green, red, 255)


def build_icon():
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as a DIB stores them
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    xor_bits = b"".join(rows)
    # AND mask: 1 bit per pixel, rows padded to 4 bytes; transparency comes
    # from the alpha channel, so the mask marks only the fully clear pixels.
    mask_row_bytes = ((SIZE + 31) // 32) * 4
    and_rows = []
    for y in range(SIZE - 1, -1, -1):
        bits = bytearray(mask_row_bytes)
        for x in range(SIZE):
            if pixel(x, y)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    and_bits = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    image = header + xor_bits + and_bits
    icon_dir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icon_dir + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(build_icon())


if __name__ == "__main__":
    main()
