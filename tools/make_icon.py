"""Draws the program's icon and writes res/skyloom.ico: seven 32-bit images, 16 to 256 pixels
(the 256 one as PNG, the others as BMP with an AND mask), in order of size.

    python3 tools/make_icon.py [OUT.ico]
"""

import math
import pathlib
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)


def pixel(x: float, y: float) -> tuple:
    """RGBA of the artwork at (x, y) in the unit square: a sky-blue disc crossed by three
    woven white threads."""
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    if r > 0.48:
        return (0, 0, 0, 0)
    edge = min(1.0, (0.48 - r) * 40)
    top, bottom = (0x5c, 0xb8, 0xf0), (0x1b, 0x5f, 0xb3)
    base = tuple(int(t + (b - t) * y) for t, b in zip(top, bottom))
    for k in range(3):
        wave = 0.32 + 0.18 * k + 0.05 * math.sin(x * math.pi * 3 + k)
        if abs(y - wave) < 0.035:
            base = (0xff, 0xff, 0xff)
    return base + (int(255 * edge),)


def image(size: int) -> list:
    samples = 4  # 4x4 supersampling
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    p = pixel((i + (si + 0.5) / samples) / size, (j + (sj + 0.5) / samples) / size)
                    for c in range(4):
                        acc[c] += p[c]
            row.append(tuple(v // (samples * samples) for v in acc))
        rows.append(row)
    return rows


def bmp_entry(size: int, rows: list) -> bytes:
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytearray(mask_row * size)
    for y, row in enumerate(reversed(rows)):
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                and_mask[y * mask_row + x // 8] |= 0x80 >> (x % 8)
    return header + xor + bytes(and_mask)


def png_entry(size: int, rows: list) -> bytes:
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon() -> bytes:
    entries = [(s, png_entry(s, image(s)) if s == 256 else bmp_entry(s, image(s))) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        dim = 0 if size == 256 else size  # the directory writes 256 as 0
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in entries)


if __name__ == "__main__":
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).parents[1] / "res" / "skyloom.ico")
    target.write_bytes(icon())
    print(target)
