"""Draws the program's icon and writes res/skyloom.ico: seven 32-bit images, 16 to 256 pixels,
in order of size. The 16 pixel image is a BMP with an AND mask, which every loader reads; the
larger ones are PNG-compressed 32-bit RGBA, which keeps the file small.

The mark: a sky-blue rounded square crossed by two white threads, side by side as on a
loom. Flat colours and few shapes, so that it still reads at 16 pixels.

    python3 res/make_icon.py [OUT.ico]
"""

import math
import pathlib
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
BMP_SIZES = (16,)

BLUE = (0x1F, 0x6F, 0xD6)
WHITE = (0xFF, 0xFF, 0xFF)


def rounded_square(x: float, y: float) -> bool:
    inset, radius = 0.04, 0.2
    qx = max(abs(x - 0.5) - (0.5 - inset - radius), 0.0)
    qy = max(abs(y - 0.5) - (0.5 - inset - radius), 0.0)
    return math.hypot(qx, qy) <= radius


def thread(x: float, y: float, centre: float, phase: float) -> bool:
    wave = centre + 0.08 * math.sin((x - 0.16) * math.pi * 2.0 + phase)
    return abs(y - wave) < 0.07 and 0.16 < x < 0.84


def pixel(x: float, y: float) -> tuple:
    """RGBA of the artwork at (x, y) in the unit square."""
    if not rounded_square(x, y):
        return (0, 0, 0, 0)
    if thread(x, y, 0.36, 0.0) or thread(x, y, 0.64, 0.0):
        return WHITE + (255,)
    return BLUE + (255,)


def image(size: int) -> list:
    samples = 4  # 4x4 supersampling, colours weighted by coverage
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    r, g, b, a = pixel((i + (si + 0.5) / samples) / size,
                                       (j + (sj + 0.5) / samples) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] // (samples * samples)
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(c // acc[3] for c in acc[:3]) + (alpha,))
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


def paeth(a: int, b: int, c: int) -> int:
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered(line: bytes, prior: bytes) -> bytes:
    """The row under the PNG filter with the smallest sum of magnitudes (the usual rule)."""
    bpp = 4
    left = lambda k, src: src[k - bpp] if k >= bpp else 0  # noqa: E731
    candidates = [
        bytes([0]) + line,
        bytes([1]) + bytes((line[k] - left(k, line)) & 255 for k in range(len(line))),
        bytes([2]) + bytes((line[k] - prior[k]) & 255 for k in range(len(line))),
        bytes([3]) + bytes((line[k] - (left(k, line) + prior[k]) // 2) & 255
                           for k in range(len(line))),
        bytes([4]) + bytes((line[k] - paeth(left(k, line), prior[k], left(k, prior))) & 255
                           for k in range(len(line))),
    ]
    return min(candidates, key=lambda c: sum(v if v < 128 else 256 - v for v in c[1:]))


def png_entry(size: int, rows: list) -> bytes:
    raw = b""
    prior = bytes(size * 4)
    for row in rows:
        line = bytes(c for p in row for c in p)
        raw += filtered(line, prior)
        prior = line

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon() -> bytes:
    entries = [(s, bmp_entry(s, image(s)) if s in BMP_SIZES else png_entry(s, image(s)))
               for s in SIZES]
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
    print(target, target.stat().st_size, "bytes")
