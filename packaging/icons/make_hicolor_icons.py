#!/usr/bin/env python3
"""Draws the program's icon for the desktop's hicolor theme as PNG files.

The picture is the one of resources/icons/make_icons.py, drawn again at each
size from its shapes instead of scaling pixels: the 16 x 16 tray design for
the small sizes (16 to 24), the 32 x 32 program design for the rest. At 16
and 32 the pixels are those of tray.ico and program.ico.

The build does not run this script: the PNGs are committed beside it, under
hicolor/<size>x<size>/apps/tavrel.png, and installed as they are.

    python3 make_hicolor_icons.py        # rewrite the PNGs
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'resources', 'icons'))
import make_icons  # noqa: E402  (the shapes and the renderer of the program's icons)

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
SMALL_DESIGN_UP_TO = 24


def design_layers(design):
    """The layers that make_icons paints for one design, and its size."""
    captured = []
    real_render = make_icons.render
    make_icons.render = lambda size, layers: captured.append((size, layers))
    try:
        design()
    finally:
        make_icons.render = real_render
    return captured[0]


def scaled(function, factor):
    return lambda x, y: function(x * factor, y * factor)


def draw(size):
    design = make_icons.tray_icon if size <= SMALL_DESIGN_UP_TO else make_icons.program_icon
    design_size, layers = design_layers(design)
    factor = design_size / size
    layers = [(scaled(shape, factor), scaled(paint, factor) if callable(paint) else paint)
              for shape, paint in layers]
    return make_icons.render(size, layers)


def png_rgba(image):
    """A PNG with an alpha channel: transparent where the image has no pixel."""
    raw = bytearray()
    for row in image:
        raw.append(0)
        for pixel in row:
            raw += bytes((0, 0, 0, 0)) if pixel is None else bytes(pixel) + b'\xff'

    def chunk(kind, payload):
        return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', zlib.crc32(kind + payload))
    size = len(image)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def main():
    for size in SIZES:
        folder = os.path.join(HERE, 'hicolor', '%dx%d' % (size, size), 'apps')
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 'tavrel.png'), 'wb') as out:
            out.write(png_rgba(draw(size)))


if __name__ == '__main__':
    main()
