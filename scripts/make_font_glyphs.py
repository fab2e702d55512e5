#!/usr/bin/python3
"""Converts the public-domain misc-fixed X11 bitmap fonts into the glyph source
of the chart fonts. The build runs it and compiles the result (font_glyphs.cpp
in the build tree).

Usage:
    scripts/make_font_glyphs.py OUTPUT LANG_DIR [FONT_DIR]
    scripts/make_font_glyphs.py --show 9x15B.pcf.gz A

The glyphs taken are ASCII, Latin-1, Latin Extended-A, common punctuation and
every character the report language files in LANG_DIR use, so that each
translated chart text is drawn whole. A character the chart font's own source
lacks (the Japanese ones) comes from the 12 x 13 Japanese misc-fixed font. A
language character that no source has stops the script with an error.

FONT_DIR defaults to /usr/share/fonts/X11/misc (Debian's xfonts-base). Only the
Python standard library is used: the PCF files are read directly.

Every chart font has a fixed cell height; each glyph is placed in it with its
origin at the cell's left edge and its baseline `baseline` rows down, and ink
falling outside the cell is dropped (the script reports how much, so a bad
choice of source font shows at once). Glyphs may be wider than the font's
nominal cell width (up to 16 columns): the drawing code spaces by ink.
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

# Source of the characters the chart fonts' own sources lack.
FALLBACK = "12x13ja.pcf.gz"
MAX_COLUMNS = 16

# Always taken (when a source has them): ASCII, Latin-1, Latin Extended-A,
# dashes, quotes, the ellipsis and the euro sign.
BASE_RANGES = [(0x20, 0x7E), (0xA0, 0x17F), (0x2010, 0x2027), (0x20AC, 0x20AC)]

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


def cell_rows(glyph, height, baseline):
    """The glyph in its cell as row masks (bit 15 is column 0), and the number
    of ink pixels that did not fit."""
    lb, asc, rows = glyph
    masks = [0] * height
    lost = 0
    for i, bits in enumerate(rows):
        y = baseline - asc + i
        for j, b in enumerate(bits):
            if b != "1":
                continue
            x = lb + j
            if 0 <= x < MAX_COLUMNS and 0 <= y < height:
                masks[y] |= 1 << (MAX_COLUMNS - 1 - x)
            else:
                lost += 1
    return masks, lost


def wanted_codes(lang_dir):
    """The characters to draw, and those of them the language files use."""
    codes = set()
    for first, last in BASE_RANGES:
        codes.update(range(first, last + 1))
    used = set()
    for name in sorted(os.listdir(lang_dir)):
        if name.endswith(".lang"):
            with open(os.path.join(lang_dir, name), encoding="utf-8") as f:
                used.update(ord(c) for c in f.read() if ord(c) >= 0x20 and c != "\x7f")
    return sorted(codes | used), used


def best_baseline(glyphs, codes, height, baseline):
    """The baseline row at which the fallback glyphs lose the least ink, of
    those the nearest to the chart font's own."""
    def lost_at(b):
        return sum(cell_rows(glyphs[c], height, b)[1] for c in codes)
    return min(range(height), key=lambda b: (lost_at(b), abs(b - baseline)))


def generate(lang_dir, font_dir):
    codes, used = wanted_codes(lang_dir)
    fallback = read_pcf(os.path.join(font_dir, FALLBACK))
    out = []
    out.append("// Generated by scripts/make_font_glyphs.py from the public-domain misc-fixed")
    out.append("// bitmap fonts (see src/graph/fonts/README.md). Do not edit by hand.")
    out.append("//")
    out.append("// Per font: the character codes drawn, ascending, and for each glyph one row")
    out.append("// mask per cell row, column 0 in bit 15.")
    out.append('#include "graph/font_glyphs.h"')
    out.append("")
    out.append("namespace tallowick::graph::detail {")
    out.append("namespace {")
    tables = []
    for name, source, _width, height, baseline in FONTS:
        own = read_pcf(os.path.join(font_dir, source))
        borrowed = [c for c in codes if c not in own and c in fallback]
        missing = [c for c in used if c not in own and c not in fallback]
        if missing:
            raise SystemExit("no glyph for the language characters "
                             + " ".join(f"U+{c:04X}" for c in missing))
        fallback_baseline = best_baseline(fallback, borrowed, height, baseline)
        drawn = [c for c in codes if c in own or c in fallback]
        lost_total = 0
        prefix = name.capitalize()
        out.append("")
        out.append(f"// {source} (others from {FALLBACK}, baseline {fallback_baseline}),"
                   f" cell height {height}, baseline at row {baseline}.")
        out.append(f"const char32_t k{prefix}Codes[{len(drawn)}] = {{")
        for i in range(0, len(drawn), 12):
            out.append("    " + ", ".join(f"0x{c:04x}" for c in drawn[i:i + 12]) + ",")
        out.append("};")
        out.append(f"const std::uint16_t k{prefix}Rows[{len(drawn)} * {height}] = {{")
        for code in drawn:
            if code in own:
                masks, lost = cell_rows(own[code], height, baseline)
            else:
                masks, lost = cell_rows(fallback[code], height, fallback_baseline)
            lost_total += lost
            shown = f"U+{code:04X}"
            out.append("    " + ", ".join(f"0x{m:04x}" for m in masks) + f",  // {shown}")
        out.append("};")
        if lost_total:
            print(f"{name}: {lost_total} ink pixels fall outside the cell", file=sys.stderr)
        tables.append((name, prefix))
    out.append("")
    out.append("}  // namespace")
    out.append("")
    for name, prefix in tables:
        out.append(f"const GlyphTable k{prefix}Glyphs{{k{prefix}Codes, k{prefix}Rows}};")
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
        masks, lost = cell_rows(glyphs[ord(ch)], height, baseline)
        print(f"{ch!r} (lost {lost})")
        for m in masks:
            print("".join("#" if m & (1 << (MAX_COLUMNS - 1 - x)) else "." for x in range(width)))


def main():
    args = sys.argv[1:]
    if args and args[0] == "--show":
        show(args[1], args[2])
        return
    if len(args) < 2:
        raise SystemExit(__doc__)
    output, lang_dir = args[0], args[1]
    font_dir = args[2] if len(args) > 2 else "/usr/share/fonts/X11/misc"
    text = generate(lang_dir, font_dir)
    # Rewritten only when it changed, so that an unchanged result compiles once.
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
