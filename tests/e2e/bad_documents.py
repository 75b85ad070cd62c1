#!/usr/bin/env python3
"""Writes the documents a server must survive into a folder: PostScript that
never ends or writes a file, PNG images that fail after their header or are
too large, JPEG cut short, PWG raster pages too wide or cut short, and 1-bit
PWG. Usage: bad_documents.py FOLDER"""
import os
import struct
import sys
import zlib


def png(width, height, idat, colour_type=2):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", idat) +
            chunk(b"IEND", b""))


def pwg_header(width, height, bits_per_pixel, bytes_per_line, colour_space=18,
               resolution=600, page=(595, 842), colour_order=0):
    """A PWG raster page header (1796 bytes, big-endian)."""
    h = bytearray(1796)
    h[0:9] = b"PwgRaster"
    def put(offset, *values):
        struct.pack_into(">%dI" % len(values), h, offset, *values)
    put(276, resolution, resolution)              # HWResolution
    put(340, 1)                                   # NumCopies
    put(352, *page)                               # PageSize
    put(372, width, height)                       # cupsWidth, cupsHeight
    put(384, 1 if bits_per_pixel == 1 else 8)     # cupsBitsPerColor
    put(388, bits_per_pixel, bytes_per_line)      # cupsBitsPerPixel, cupsBytesPerLine
    put(396, colour_order, colour_space)          # cupsColorOrder, cupsColorSpace
    return bytes(h)


def white_lines(lines, bytes_per_line, pixel_bytes=1, white=b"\xff"):
    """PWG-compressed white lines: one line, repeated."""
    pixels = bytes_per_line // pixel_bytes
    runs = []
    while pixels > 0:
        n = min(pixels, 128)
        runs.append(bytes([n - 1]) + white * pixel_bytes)
        pixels -= n
    out = bytearray()
    while lines > 0:
        n = min(lines, 256)
        out += bytes([n - 1]) + b"".join(runs)
        lines -= n
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    def write(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    write("endless.ps", b"%!PS\n{ } loop\n")
    write("probe.ps", b"%!PS\n(/tmp/probe) (w) file dup (probe) writestring closefile\n"
                      b"(probe-here) (w) file closefile\nshowpage\n")
    # 60000 x 60000 with an empty IDAT: 65 bytes.
    write("png-empty-idat.png", png(60000, 60000, b""))
    # A small image whose pixel data is not zlib data.
    write("png-broken-idat.png", png(64, 64, b"\x00\x01\x02 not zlib data at all"))
    # 16384 x 16384 gray: about 800 KB of zlib data.
    rows = b"".join(b"\x00" + b"\xff" * 16384 for _ in range(16384))
    write("png-bomb.png", png(16384, 16384, zlib.compress(rows, 9), colour_type=0))
    # Lines of 512 MiB on an A4 page: about 8 MB of compressed white.
    wide = 536870911
    write("pwg-bomb.pwg", b"RaS2" + pwg_header(wide, 1, 8, wide) + white_lines(1, wide))
    # An A4 page at 600 dpi that holds 100 of its 7016 lines.
    write("pwg-short.pwg", b"RaS2" + pwg_header(4960, 7016, 24, 4960 * 3, colour_space=19) +
          white_lines(100, 4960 * 3, 3))
    # A white page of colour in bands (one plane after the other).
    write("pwg-banded.pwg", b"RaS2" + pwg_header(4960, 7016, 24, 4960 * 3, colour_space=19,
                                                 colour_order=1) +
          white_lines(7016 * 3, 4960))
    # A white 1-bit A4 page (0 is white in black_1).
    write("pwg-1bit.pwg", b"RaS2" + pwg_header(4960, 7016, 1, 620, colour_space=3) +
          white_lines(7016, 620, white=b"\x00"))

main()
