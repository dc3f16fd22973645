#!/usr/bin/python3
"""Writes gui/win32/tavimor.ico from the program's PNG icons: one PNG entry per
size, which Windows Vista and later read as they are. The sizes that share/icons
lacks are drawn from the SVG with rsvg-convert.

Usage: gui/win32/make_icon.py   (from anywhere; rewrites the .ico in place)
"""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "..", "share", "icons")
SIZES = [16, 20, 24, 32, 40, 48, 64, 256]


def png_of(size, scratch):
    drawn = os.path.join(ICONS, "tavimor-%d.png" % size)
    if not os.path.exists(drawn):
        drawn = os.path.join(scratch, "%d.png" % size)
        subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", drawn,
                        os.path.join(ICONS, "tavimor.svg")], check=True)
    with open(drawn, "rb") as f:
        return f.read()


def main():
    with tempfile.TemporaryDirectory() as scratch:
        images = [(size, png_of(size, scratch)) for size in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, png in images:
        # A width or height of 256 is written as 0.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png),
                               offset + len(data))
        data += png
    with open(os.path.join(HERE, "tavimor.ico"), "wb") as f:
        f.write(header + entries + data)


if __name__ == "__main__":
    main()
