#!/usr/bin/python3
"""Independent decoder for the image encoder tests: decodes each file named on the
command line with PIL and writes, for each, a header line
"<format> <width> <height> <bytes>" followed by the pixels as RGB bytes, rows top
to bottom. A file PIL cannot read gives "ERROR <message>" and exit status 1."""
import sys

from PIL import Image


def main():
    out = sys.stdout.buffer
    status = 0
    for path in sys.argv[1:]:
        try:
            with Image.open(path) as im:
                im.load()
                fmt = im.format
                rgb = im.convert("RGB").tobytes()
                out.write(f"{fmt} {im.width} {im.height} {len(rgb)}\n".encode())
                out.write(rgb)
        except Exception as e:  # report every failure the same way
            out.write(f"ERROR {str(e).replace(chr(10), ' ')}\n".encode())
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
