#!/usr/bin/python3
"""Converts the public-domain misc-fixed X11 bitmap fonts into the glyph source
of the chart fonts (src/graph/font_glyphs.cpp).

Usage:
    scripts/make_font_glyphs.py [FONT_DIR] > src/graph/font_glyphs.cpp
    scripts/make_font_glyphs.py --show 9x15B.pcf.gz A

FONT_DIR defaults to /usr/share/fonts/X11/misc (Debian's xfonts-base). Only the
Python standard library is used: the PCF files are read directly.

Every chart font has a fixed cell; each glyph of the source font is placed in it
with its origin at the cell's left edge and its baseline `baseline` rows down,
and ink falling outside the cell is dropped (the script reports how much, so a
bad choice of source font shows at once).
"""
import gzip
import os
import struct
import sys

# name in C++, source file, cell width, cell height, baseline row
FONTS = [
    ("title", "9x15B.pcf.gz", 16, 15, 12),
    ("label", "7x13.pcf.gz", 9, 12, 10),
    ("small", "6x12.pcf.gz", 6, 12, 10),
]

FIRST_CHAR = 32
GLYPH_COUNT = 96

PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_COMPRESSED_METRICS = 0x100


class Reader:
    def __init__(self, data, offset, fmt):
        self.data = data
        self.pos = offset
        self.big = bool(fmt & (1 << 2))

    def int32(self):
        v = struct.unpack_from(">i" if self.big else "<i", self.data, self.pos)[0]
        self.pos += 4
        return v

    def int16(self):
        v = struct.unpack_from(">h" if self.big else "<h", self.data, self.pos)[0]
        self.pos += 2
        return v

    def uint16(self):
        v = struct.unpack_from(">H" if self.big else "<H", self.data, self.pos)[0]
        self.pos += 2
        return v

    def uint8(self):
        v = self.data[self.pos]
        self.pos += 1
        return v


def read_pcf(path):
    """Returns {char code: (left bearing, ascent, rows of '0'/'1' strings)}."""
    data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
    if data[:4] != b"\x01fcp":
        raise SystemExit(f"{path}: not a PCF font")
    count = struct.unpack_from("<i", data, 4)[0]
    tables = {}
    for i in range(count):
        kind, fmt, size, offset = struct.unpack_from("<iiii", data, 8 + 16 * i)
        tables[kind] = (fmt, offset)

    def open_table(kind):
        fmt, offset = tables[kind]
        fmt = struct.unpack_from("<i", data, offset)[0]
        return Reader(data, offset + 4, fmt), fmt

    r, fmt = open_table(PCF_METRICS)
    metrics = []
    if fmt & PCF_COMPRESSED_METRICS:
        for _ in range(r.int16()):
            lb, rb, w, asc, desc = (r.uint8() - 0x80 for _ in range(5))
            metrics.append((lb, rb, w, asc, desc))
    else:
        for _ in range(r.int32()):
            lb, rb, w, asc, desc = (r.int16() for _ in range(5))
            r.uint16()
            metrics.append((lb, rb, w, asc, desc))

    r, fmt = open_table(PCF_BITMAPS)
    glyph_pad = 1 << (fmt & 3)
    msb_bits = bool(fmt & (1 << 3))
    msb_bytes = bool(fmt & (1 << 2))
    scan_unit = 1 << ((fmt >> 4) & 3)
    n = r.int32()
    offsets = [r.int32() for _ in range(n)]
    sizes = [r.int32() for _ in range(4)]
    base = r.pos
    bitmaps = data[base:base + sizes[fmt & 3]]

    r, fmt = open_table(PCF_BDF_ENCODINGS)
    min2, max2, min1, max1, _default = (r.int16() for _ in range(5))
    glyph_of = {}
    for byte1 in range(min1, max1 + 1):
        for byte2 in range(min2, max2 + 1):
            g = r.uint16()
            if g != 0xFFFF:
                glyph_of[byte1 * 256 + byte2] = g

    glyphs = {}
    for code, g in glyph_of.items():
        lb, rb, _w, asc, desc = metrics[g]
        width, height = rb - lb, asc + desc
        stride = ((width + 7) // 8 + glyph_pad - 1) // glyph_pad * glyph_pad
        raw = bytearray(bitmaps[offsets[g]:offsets[g] + stride * height])
        if scan_unit > 1 and msb_bits != msb_bytes:
            for i in range(0, len(raw), scan_unit):
                raw[i:i + scan_unit] = raw[i:i + scan_unit][::-1]
        rows = []
        for y in range(height):
            bits = ""
            for x in range(width):
                byte = raw[y * stride + x // 8]
                bit = (byte >> (7 - x % 8)) & 1 if msb_bits else (byte >> (x % 8)) & 1
                bits += "1" if bit else "0"
            rows.append(bits)
        glyphs[code] = (lb, asc, rows)
    return glyphs


def cell_rows(glyph, width, height, baseline):
    """The glyph in its cell as integer row masks (bit width-1-x is column x),
    and the number of ink pixels that did not fit."""
    lb, asc, rows = glyph
    masks = [0] * height
    lost = 0
    for i, bits in enumerate(rows):
        y = baseline - asc + i
        for j, b in enumerate(bits):
            if b != "1":
                continue
            x = lb + j
            if 0 <= x < width and 0 <= y < height:
                masks[y] |= 1 << (width - 1 - x)
            else:
                lost += 1
    return masks, lost


def generate(font_dir):
    out = []
    out.append("// Generated by scripts/make_font_glyphs.py from the public-domain misc-fixed")
    out.append("// bitmap fonts (see src/graph/fonts/README.md). Do not edit by hand.")
    out.append("//")
    out.append("// One line per glyph, codes 32..127: a row mask per cell row, the leftmost")
    out.append("// column in the highest bit of the cell width.")
    out.append('#include "graph/font_glyphs.h"')
    out.append("")
    out.append("namespace tallowick::graph::detail {")
    for name, source, width, height, baseline in FONTS:
        glyphs = read_pcf(os.path.join(font_dir, source))
        lost_total = 0
        out.append("")
        out.append(f"// {source}, cell {width} x {height}, baseline at row {baseline}.")
        out.append(f"const std::uint16_t k{name.capitalize()}Glyphs[{GLYPH_COUNT} * {height}] = {{")
        for code in range(FIRST_CHAR, FIRST_CHAR + GLYPH_COUNT):
            glyph = glyphs.get(code, (0, 0, []))
            masks, lost = cell_rows(glyph, width, height, baseline)
            lost_total += lost
            shown = chr(code) if 32 < code < 127 and chr(code) not in "\\" else f"{code}"
            cells = ", ".join(f"0x{m:04x}" for m in masks)
            out.append(f"    {cells},  // {shown}")
        out.append("};")
        if lost_total:
            print(f"{source}: {lost_total} ink pixels fall outside the {width} x {height} cell",
                  file=sys.stderr)
    out.append("")
    out.append("}  // namespace tallowick::graph::detail")
    return "\n".join(out) + "\n"


def show(path, text):
    glyphs = read_pcf(path)
    for name, source, width, height, baseline in FONTS:
        if os.path.basename(path) == source:
            break
    else:
        width, height, baseline = 16, 16, 12
    for ch in text:
        masks, lost = cell_rows(glyphs[ord(ch)], width, height, baseline)
        print(f"{ch!r} (lost {lost})")
        for m in masks:
            print("".join("#" if m & (1 << (width - 1 - x)) else "." for x in range(width)))


def main():
    args = sys.argv[1:]
    if args and args[0] == "--show":
        show(args[1], args[2])
        return
    font_dir = args[0] if args else "/usr/share/fonts/X11/misc"
    sys.stdout.write(generate(font_dir))


if __name__ == "__main__":
    main()
