#!/usr/bin/env python3
"""Turns the AS CSV files (IPv4 and IPv6: start,end,number,"name") into the
compact sorted table the program reads at start-up (engine/as_table.cpp):

    "TWASTBL1"                      8 bytes
    v4 count, v6 count, names size  3 x uint32 little-endian
    v4 ranges: start, end, name     3 x uint32 each
    v6 ranges: start, end, name     16 + 16 bytes (big-endian) + uint32 each
    names: NUL-terminated UTF-8 texts, each AS name once

Ranges are sorted by start and do not overlap; a later overlapping row is cut.
The output is written to a temporary file and renamed into place.

usage: make_as_table.py asn-ipv4.csv asn-ipv6.csv out.tbl
"""
import csv
import ipaddress
import os
import struct
import sys


def read_ranges(path, version):
    ranges = []
    with open(path, newline="", encoding="utf-8", errors="replace") as f:
        for row in csv.reader(f):
            if len(row) < 4:
                continue
            try:
                start = ipaddress.ip_address(row[0].strip())
                end = ipaddress.ip_address(row[1].strip())
            except ValueError:
                continue
            name = row[3].strip()
            if start.version != version or end.version != version or end < start or not name:
                continue
            ranges.append((int(start), int(end), name))
    ranges.sort()
    kept = []
    for start, end, name in ranges:
        if kept and start <= kept[-1][1]:
            if end <= kept[-1][1]:
                continue
            start = kept[-1][1] + 1
        kept.append((start, end, name))
    return kept


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    v4 = read_ranges(sys.argv[1], 4)
    v6 = read_ranges(sys.argv[2], 6)
    names = bytearray()
    offsets = {}

    def name_at(name):
        if name not in offsets:
            offsets[name] = len(names)
            names.extend(name.encode("utf-8") + b"\0")
        return offsets[name]

    body = bytearray()
    for start, end, name in v4:
        body += struct.pack("<III", start, end, name_at(name))
    for start, end, name in v6:
        body += start.to_bytes(16, "big") + end.to_bytes(16, "big") + struct.pack("<I", name_at(name))
    out = sys.argv[3]
    temporary = out + ".tmp"
    with open(temporary, "wb") as f:
        f.write(b"TWASTBL1" + struct.pack("<III", len(v4), len(v6), len(names)))
        f.write(body)
        f.write(names)
    os.replace(temporary, out)


if __name__ == "__main__":
    main()
