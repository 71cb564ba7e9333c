#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files beside this script.

program.ico (resource 101): 32 x 32, a receiver dish whose cable splits into
three ports. tray.ico (resource 103): 16 x 16, the same picture simplified
for the notification tray. Both are 24-bit images with an AND mask, as a
resource compiler expects them.

Only the standard library is used. The build does not run this script: the
.ico files are committed and embedded as they are.

    python3 make_icons.py                 # rewrite the .ico files
    python3 make_icons.py --preview DIR   # also write enlarged PNGs to look at
"""

import argparse
import math
import os
import struct
import zlib

SUBSAMPLES = 4  # per side, for smooth edges inside the tile

TILE_TOP = (0x2A, 0x5F, 0xA8)
TILE_BOTTOM = (0x17, 0x3B, 0x6E)
TILE_EDGE = (0x0C, 0x22, 0x42)
DISH = (0xEE, 0xF2, 0xF6)
DISH_SHADE = (0xA9, 0xB7, 0xC6)
METAL = (0xC8, 0xD0, 0xD8)
FEED = (0xFF, 0x9E, 0x1B)
CABLE = (0xFF, 0xD0, 0x2E)
PORT = (0x5C, 0xDB, 0x6A)


# Shapes: each tells whether a point (x, y) in pixel units lies inside.

def rounded_square(size, radius, inset=0.0):
    low, high = inset, size - inset

    def inside(x, y):
        cx = min(max(x, low + radius), high - radius)
        cy = min(max(y, low + radius), high - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and low <= x <= high and low <= y <= high
    return inside


def disc(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2
    return inside


def dish_bowl(cx, cy, half_width, depth, facing_degrees, rim=0.0):
    """A dish seen from the side: the back half of an ellipse, open towards
    the facing direction. With rim > 0, only the band next to the opening."""
    angle = math.radians(facing_degrees)
    nx, ny = math.cos(angle), -math.sin(angle)  # towards the opening (y grows down)
    ux, uy = -ny, nx                              # across the opening

    def inside(x, y):
        u = (x - cx) * ux + (y - cy) * uy
        v = (x - cx) * nx + (y - cy) * ny
        in_bowl = (u / half_width) ** 2 + (v / depth) ** 2 <= 1.0 and v <= 0.0
        return in_bowl and (rim == 0.0 or v >= -rim)
    return inside


def along(cx, cy, distance, facing_degrees):
    angle = math.radians(facing_degrees)
    return cx + distance * math.cos(angle), cy - distance * math.sin(angle)


def render(size, layers):
    """Paints the layers (shape, colour or colour function) in order.
    Returns rows of (r, g, b) or None for a transparent pixel."""
    tile = layers[0][0]
    image = []
    for py in range(size):
        row = []
        for px in range(size):
            samples = [((px + (i + 0.5) / SUBSAMPLES), (py + (j + 0.5) / SUBSAMPLES))
                       for j in range(SUBSAMPLES) for i in range(SUBSAMPLES)]
            covered = sum(1 for (x, y) in samples if tile(x, y))
            if covered * 2 < len(samples):
                row.append(None)
                continue
            total = [0.0, 0.0, 0.0]
            for (x, y) in samples:
                colour = None
                for shape, paint in layers:
                    if shape(x, y):
                        colour = paint(x, y) if callable(paint) else paint
                if colour is None:  # a sample just outside the tile's edge
                    colour = TILE_EDGE
                for k in range(3):
                    total[k] += colour[k]
            row.append(tuple(int(round(c / len(samples))) for c in total))
        image.append(row)
    return image


def tile_gradient(size):
    def paint(x, y):
        t = y / size
        return tuple(a + (b - a) * t for a, b in zip(TILE_TOP, TILE_BOTTOM))
    return paint


def splitter_layers(node, ends, cable_width, port_radius, start):
    layers = [(segment(start[0], start[1], node[0], node[1], cable_width), CABLE)]
    for end in ends:
        layers.append((segment(node[0], node[1], end[0], end[1], cable_width), CABLE))
    layers.append((disc(node[0], node[1], cable_width * 0.9), CABLE))
    for end in ends:
        layers.append((disc(end[0], end[1], port_radius), PORT))
    return layers


def program_icon():
    size = 32
    dish_centre, facing = (12.0, 13.5), 45
    feed = along(*dish_centre, 7.5, facing)
    back = along(*dish_centre, -4.0, facing)
    layers = [
        (rounded_square(size, 6.0), TILE_EDGE),
        (rounded_square(size, 5.0, inset=1.0), tile_gradient(size)),
        (segment(back[0], back[1], back[0], 24.0, 2.0), METAL),                 # post
        (segment(4.5, 25.0, 11.5, 25.0, 2.4), METAL),                           # foot
        (dish_bowl(*dish_centre, 9.0, 5.0, facing), DISH_SHADE),
        (dish_bowl(*dish_centre, 9.0, 5.0, facing, rim=2.2), DISH),
        (segment(dish_centre[0], dish_centre[1], feed[0], feed[1], 1.1), METAL),  # feed arm
        (disc(feed[0], feed[1], 1.7), FEED),
    ]
    layers += splitter_layers(node=(19.0, 23.0), ends=[(27.0, 14.5), (27.5, 22.5), (26.0, 28.0)],
                              cable_width=1.8, port_radius=2.0, start=(11.0, 25.0))
    return render(size, layers)


def tray_icon():
    size = 16
    dish_centre, facing = (5.0, 6.5), 45
    feed = along(*dish_centre, 3.6, facing)
    layers = [
        (rounded_square(size, 3.0), TILE_EDGE),
        (rounded_square(size, 2.5, inset=0.6), tile_gradient(size)),
        (dish_bowl(*dish_centre, 4.4, 2.6, facing), DISH),
        (segment(dish_centre[0], dish_centre[1], feed[0], feed[1], 0.8), METAL),
        (disc(feed[0], feed[1], 1.0), FEED),
    ]
    layers += splitter_layers(node=(8.5, 11.0), ends=[(13.0, 4.5), (13.0, 9.0), (12.0, 13.2)],
                              cable_width=1.3, port_radius=1.25, start=(2.5, 11.0))
    return render(size, layers)


def ico_bytes(image):
    """One 24-bit image: the .ico directory, then a BITMAPINFOHEADER, the
    colour rows and the AND mask, both bottom row first, rows padded to four
    bytes. Transparent pixels are black with the mask bit set."""
    size = len(image)
    colour_stride = (size * 24 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colours, mask = bytearray(), bytearray()
    for row in reversed(image):
        line = bytearray()
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            r, g, b = pixel if pixel is not None else (0, 0, 0)
            line += bytes((b, g, r))
            if pixel is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += line + bytes(colour_stride - len(line))
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 24, 0, len(colours) + len(mask), 0, 0, 0, 0)
    data = header + colours + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size, size, 0, 0, 1, 24, len(data), 6 + 16)
    return directory + entry + data


def png_bytes(image, scale):
    """An enlarged copy on a checkerboard, so transparency shows."""
    size = len(image)
    raw = bytearray()
    for y in range(size * scale):
        raw.append(0)
        for x in range(size * scale):
            pixel = image[y // scale][x // scale]
            if pixel is None:
                pixel = (0xCC, 0xCC, 0xCC) if ((x // 8) + (y // 8)) % 2 else (0xFF, 0xFF, 0xFF)
            raw += bytes(pixel)

    def chunk(kind, payload):
        return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', zlib.crc32(kind + payload))
    side = size * scale
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--preview', metavar='DIR', help='also write enlarged PNG previews into DIR')
    arguments = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    for name, image in (('program', program_icon()), ('tray', tray_icon())):
        with open(os.path.join(here, name + '.ico'), 'wb') as out:
            out.write(ico_bytes(image))
        if arguments.preview:
            os.makedirs(arguments.preview, exist_ok=True)
            with open(os.path.join(arguments.preview, name + '.png'), 'wb') as out:
                out.write(png_bytes(image, 320 // len(image)))


if __name__ == '__main__':
    main()
