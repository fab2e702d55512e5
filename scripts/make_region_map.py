#!/usr/bin/python3
"""Draws the world map of the region chart and writes it as C++ source
(src/graph/region_map_data.cpp): a 640 x 310 palette GIF.

Usage:
    scripts/make_region_map.py COUNTRIES_110M_JSON > src/graph/region_map_data.cpp
    scripts/make_region_map.py COUNTRIES_110M_JSON --png map.png   (a copy to look at)

COUNTRIES_110M_JSON is "countries-110m.json" of the npm package world-atlas
(Natural Earth's 1:110m Admin 0 countries as TopoJSON; public domain). Country
numbers are turned into two-letter codes with Debian's iso-codes
(/usr/share/iso-codes/json/iso_3166-1.json), and each code takes the region of
our own country table (src/engine/country_table.cpp). Needs PIL (python3-pil).

The palette is the contract with the chart code:
  0 ocean, 1 black, 2 outline of land in no region, 3 white, 4 land in no region,
  5 frame grey;
  16 * g + k (g = 1..7, k = 0..15) the land of the region painted in group g:
    k 0..5 shade the coast (interior 0, coast 5), k 13 the country outlines;
  240..246 the scale swatches from High (240) to Low (246).
The program recolours each group from its region's scale colour, so the shading
steps follow whatever colour a region gets.
"""
import io
import json
import math
import os
import re
import sys

from PIL import Image, ImageDraw

WIDTH, HEIGHT = 640, 310
# The map's box: the scale and its labels take the left end.
MAP_LEFT, MAP_RIGHT = 78, 632
LAT_TOP, LAT_BOTTOM = 84.0, -57.0

# Region codes of the country table, and the palette group each is painted in.
REGION_CODES = {"NorthAmerica": 1, "LatinAmerica": 2, "Europe": 3, "Africa": 4,
                "MiddleEast": 5, "Asia": 6, "Oceania": 7}
GROUP_OF_REGION = {1: 5, 2: 7, 3: 4, 4: 3, 5: 1, 6: 6, 7: 2}
# Features the 1:110m data gives no ISO number.
REGION_BY_NAME = {"Kosovo": 3, "N. Cyprus": 3, "Somaliland": 4}

SCALE = [0xCC0000, 0xFF6600, 0xFFCC00, 0x99CC00, 0x00AA66, 0x0099CC, 0x3366CC]
SCALE_X0, SCALE_X1, SCALE_Y0, SCALE_STEP = 12, 32, 145, 15

HERE = os.path.dirname(os.path.abspath(__file__))
COUNTRY_TABLE = os.path.join(HERE, "..", "src", "engine", "country_table.cpp")
ISO_CODES = "/usr/share/iso-codes/json/iso_3166-1.json"


def region_table():
    text = open(COUNTRY_TABLE, encoding="utf-8").read()
    table = {}
    for code, region in re.findall(r'\{"([a-z]{2})",\s*"[^"]*",\s*kRegion(\w+)\}', text):
        if region in REGION_CODES:
            table[code.upper()] = REGION_CODES[region]
    return table


def numeric_to_alpha2():
    data = json.load(open(ISO_CODES, encoding="utf-8"))
    return {int(c["numeric"]): c["alpha_2"] for c in data["3166-1"]}


def miller(lat):
    phi = math.radians(lat)
    return 1.25 * math.log(math.tan(math.pi / 4 + 0.4 * phi))


def projector():
    scale = (MAP_RIGHT - MAP_LEFT) / (2 * math.pi)
    top = miller(LAT_TOP)
    height = (top - miller(LAT_BOTTOM)) * scale
    y0 = (HEIGHT - height) / 2

    def project(lon, lat):
        lat = max(min(lat, 89.0), -89.0)
        return (MAP_LEFT + (lon + 180.0) / 360.0 * (MAP_RIGHT - MAP_LEFT),
                y0 + (top - miller(lat)) * scale)
    return project


def decode_arcs(topology):
    sx, sy = topology["transform"]["scale"]
    tx, ty = topology["transform"]["translate"]
    arcs = []
    for arc in topology["arcs"]:
        x = y = 0
        points = []
        for dx, dy in arc:
            x += dx
            y += dy
            points.append((x * sx + tx, y * sy + ty))
        arcs.append(points)
    return arcs


def ring_points(ring, arcs):
    points = []
    for index in ring:
        arc = arcs[index] if index >= 0 else list(reversed(arcs[~index]))
        points.extend(arc if not points else arc[1:])
    return points


def unwrapped(points):
    """Longitudes made continuous along the ring (no jump of half a turn)."""
    out = []
    for lon, lat in points:
        if out:
            while lon - out[-1][0] > 180:
                lon -= 360
            while lon - out[-1][0] < -180:
                lon += 360
        out.append((lon, lat))
    return out


def polygons(geometry):
    if geometry["type"] == "Polygon":
        return [geometry["arcs"]]
    if geometry["type"] == "MultiPolygon":
        return geometry["arcs"]
    return []


def draw(countries_json):
    topology = json.load(open(countries_json, encoding="utf-8"))
    arcs = decode_arcs(topology)
    regions = region_table()
    alpha2 = numeric_to_alpha2()
    project = projector()

    # Region per pixel (0 ocean, 1..7 a region, 8 land in none), outlines apart.
    land = Image.new("L", (WIDTH, HEIGHT), 0)
    outline = Image.new("L", (WIDTH, HEIGHT), 0)
    fill_draw, line_draw = ImageDraw.Draw(land), ImageDraw.Draw(outline)
    missing = []
    for feature in topology["objects"]["countries"]["geometries"]:
        name = feature.get("properties", {}).get("name", "")
        region = None
        if "id" in feature and str(feature["id"]).isdigit():
            region = regions.get(alpha2.get(int(feature["id"]), ""), None)
        if region is None:
            region = REGION_BY_NAME.get(name)
        if region is None:
            missing.append(name)
            region = 8
        for polygon in polygons(feature):
            for n, ring in enumerate(polygon):
                lonlat = unwrapped(ring_points(ring, arcs))
                if len(lonlat) < 3:
                    continue
                # A ring that crosses the date line runs past +-180 once unwrapped;
                # drawn shifted by a turn as well, each half lands on the map.
                for shift in (-360.0, 0.0, 360.0):
                    pts = [project(lon + shift, lat) for lon, lat in lonlat]
                    # Holes (rings after the first) are lakes and enclaves: left as land.
                    if n == 0:
                        fill_draw.polygon(pts, fill=region)
                    line_draw.line(pts + [pts[0]], fill=region, width=1)
    if missing:
        print("no region for: " + ", ".join(missing), file=sys.stderr)

    px_land, px_line = land.load(), outline.load()
    # Only the map's box: shifted rings reach past its ends.
    for y in range(HEIGHT):
        for x in list(range(0, MAP_LEFT)) + list(range(MAP_RIGHT + 1, WIDTH)):
            px_land[x, y] = px_line[x, y] = 0
    # Distance of each land pixel from the sea, up to 6 (four-connected steps).
    dist = [[0] * WIDTH for _ in range(HEIGHT)]
    frontier = []
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if px_land[x, y] or px_line[x, y]:
                dist[y][x] = 99
            else:
                frontier.append((x, y))
    for step in range(1, 7):
        nxt = []
        for x, y in frontier:
            for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                if 0 <= nx < WIDTH and 0 <= ny < HEIGHT and dist[ny][nx] == 99:
                    dist[ny][nx] = step
                    nxt.append((nx, ny))
        frontier = nxt

    image = Image.new("P", (WIDTH, HEIGHT), 0)
    out = image.load()
    for y in range(HEIGHT):
        for x in range(WIDTH):
            region = px_line[x, y] or px_land[x, y]
            if not region:
                continue
            if region == 8:
                out[x, y] = 2 if px_line[x, y] else 4
                continue
            base = 16 * GROUP_OF_REGION[region]
            if px_line[x, y]:
                out[x, y] = base + 13
            else:
                out[x, y] = base + max(0, 6 - dist[y][x])

    d = ImageDraw.Draw(image)
    # The scale, High at the top.
    for i in range(len(SCALE)):
        top = SCALE_Y0 + i * SCALE_STEP
        d.rectangle([SCALE_X0, top, SCALE_X1, top + SCALE_STEP - 1], fill=240 + i)
    d.rectangle([SCALE_X0 - 1, SCALE_Y0 - 1, SCALE_X1 + 1, SCALE_Y0 + SCALE_STEP * len(SCALE)],
                outline=1)
    # A 3D frame like the charts': black edge, white top and left, grey bottom and right.
    d.rectangle([0, 0, WIDTH - 1, HEIGHT - 1], outline=1)
    for i in (1, 2):
        d.line([(i, i), (WIDTH - 1 - i, i)], fill=3)
        d.line([(i, i), (i, HEIGHT - 1 - i)], fill=3)
        d.line([(i, HEIGHT - 1 - i), (WIDTH - 1 - i, HEIGHT - 1 - i)], fill=5)
        d.line([(WIDTH - 1 - i, i), (WIDTH - 1 - i, HEIGHT - 1 - i)], fill=5)

    palette = [0] * 768

    def put(slot, rgb):
        palette[slot * 3:slot * 3 + 3] = [(rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255]

    put(0, 0xD8E8F4)
    put(1, 0x000000)
    put(2, 0x808080)
    put(3, 0xFFFFFF)
    put(4, 0xC8C8C8)
    put(5, 0x555555)
    # Groups as the chart paints a region without traffic: greys.
    for g in range(1, 8):
        for k in range(16):
            level = int(255 * (100 - 5 * k) / 100)
            put(16 * g + k, level * 0x010101)
    for i, rgb in enumerate(SCALE):
        put(240 + i, rgb)
    image.putpalette(palette)
    return image


def gif_bytes(image):
    buffer = io.BytesIO()
    image.save(buffer, format="GIF", optimize=False)
    data = buffer.getvalue()
    # The slots are the contract: make sure the writer kept them.
    check = Image.open(io.BytesIO(data))
    if list(check.getdata()) != list(image.getdata()):
        sys.exit("the GIF writer renumbered the palette")
    return data


def cpp_source(data):
    lines = [
        "// The world map of the region chart, a 640 x 310 palette GIF drawn by",
        "// scripts/make_region_map.py from Natural Earth's public-domain 1:110m country",
        "// outlines (see region_map.md). Generated: do not edit.",
        '#include "graph/region_map.h"',
        "",
        "namespace tallowick::graph::detail {",
        "",
        f"const std::uint8_t kRegionMapGif[{len(data)}] = {{",
    ]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02X}" for b in data[i:i + 16]) + ",")
    lines += ["};", f"const std::size_t kRegionMapGifSize = {len(data)};", "",
              "}  // namespace tallowick::graph::detail", ""]
    return "\n".join(lines)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    image = draw(sys.argv[1])
    data = gif_bytes(image)
    if len(sys.argv) >= 4 and sys.argv[2] == "--png":
        image.save(sys.argv[3])
        return
    sys.stdout.write(cpp_source(data))


if __name__ == "__main__":
    main()
