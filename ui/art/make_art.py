#!/usr/bin/env python3
"""Draws Morvane's banner (300 x 90, 24-bit BMP) and icon (32 x 32 and 16 x 16 in 16 colours,
48 x 48 in 256 colours) and writes them into ui/res/. Standard library only; the output is
committed beside this script, so a build needs no Python.

    python3 ui/art/make_art.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "res")

# A 5 x 7 pixel font for the banner's words.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "/": ["00001", "00010", "00010", "00100", "01000", "01000", "10000"],
    " ": ["00000"] * 7,
}


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]  # rows top to bottom, None = clear

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def rounded(self, x0, y0, x1, y1, radius, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                dx = max(x0 + radius - x - 0.5, 0, x - (x1 - radius) + 0.5)
                dy = max(y0 + radius - y - 0.5, 0, y - (y1 - radius) + 0.5)
                if dx * dx + dy * dy <= radius * radius:
                    self.put(x, y, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def text(self, x, y, words, scale, colour, spacing=1):
        for ch in words:
            rows = GLYPHS[ch]
            for gy, row in enumerate(rows):
                for gx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x + gx * scale, y + gy * scale,
                                  x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
            x += (5 + spacing) * scale

    def arrow(self, x0, x1, y, thickness, colour, right=True):
        """A horizontal arrow from x0 to x1 with its head at x1 (right) or x0 (left)."""
        head = thickness * 2
        if right:
            self.rect(x0, y - thickness // 2, x1 - head, y + (thickness + 1) // 2, colour)
            for i in range(head):
                half = head - i
                self.rect(x1 - head + i, y - half, x1 - head + i + 1, y + half, colour)
        else:
            self.rect(x0 + head, y - thickness // 2, x1, y + (thickness + 1) // 2, colour)
            for i in range(head):
                half = head - i
                self.rect(x0 + head - i - 1, y - half, x0 + head - i, y + half, colour)


def blend(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


NAVY = (16, 38, 72)
TEAL = (18, 112, 128)
WHITE = (255, 255, 255)
PALE = (196, 226, 232)
STEEL = (92, 104, 118)
DARK = (40, 46, 54)
LIGHT = (168, 178, 188)
GREEN = (64, 208, 96)
AMBER = (240, 176, 32)
PAPER = (244, 240, 226)
INK = (120, 120, 132)


def device(c, x, y, w, h):
    """A small device server seen from the front: case, status lights and network ports."""
    c.rounded(x, y, x + w, y + h, max(2, h // 6), DARK)
    c.rounded(x + 1, y + 1, x + w - 1, y + h - 1, max(2, h // 6), STEEL)
    c.rect(x + 2, y + h // 2, x + w - 2, y + h // 2 + 1, DARK)
    lights = max(1, w // 18)
    c.disc(x + w * 0.18, y + h * 0.3, lights, GREEN)
    c.disc(x + w * 0.32, y + h * 0.3, lights, AMBER)
    port_w, port_h = max(3, w // 8), max(2, h // 5)
    for i in range(3):
        px = x + w - 4 - (i + 1) * (port_w + 2)
        c.rect(px, y + h * 3 // 4 - port_h // 2, px + port_w, y + h * 3 // 4 + port_h // 2, DARK)


def document(c, x, y, w, h):
    """A configuration file: a page with a folded corner and lines of text."""
    fold = max(3, w // 4)
    c.rect(x, y, x + w, y + h, INK)
    c.rect(x + 1, y + 1, x + w - 1, y + h - 1, PAPER)
    for i in range(fold):
        c.rect(x + w - fold + i, y, x + w, y + i + 1, None if c.clear_fold else TEAL)
    for row in range(y + fold + 2, y + h - 3, max(3, h // 8)):
        c.rect(x + 3, row, x + w - 4, row + 1, INK)


def banner():
    c = Canvas(300, 90, NAVY)
    c.clear_fold = False
    for y in range(90):
        for x in range(300):
            t = (x / 299) * 0.8 + (y / 89) * 0.2
            c.pixels[y][x] = blend(NAVY, TEAL, t)
    # The round trip: the device sends its configuration out to a file and takes it back.
    device(c, 10, 22, 68, 30)
    c.arrow(86, 120, 30, 4, PALE, right=True)
    c.arrow(86, 120, 46, 4, PALE, right=False)
    document(c, 128, 14, 28, 42)
    c.text(170, 16, "MORVANE", 3, WHITE, spacing=1)
    c.text(170, 46, "CONFIG", 2, PALE)
    c.text(170, 64, "BACKUP/RESTORE", 1, PALE)
    c.rect(10, 66, 156, 67, PALE)
    c.text(10, 72, "TAVIO DEVICE SERVERS", 1, PALE)
    return c


def icon(size):
    c = Canvas(size, size, None)
    c.clear_fold = True
    s = size / 32
    # A file in front of a device: backing up and restoring a configuration.
    device(c, 0, int(4 * s), size, int(14 * s))
    document(c, int(12 * s), int(13 * s), int(16 * s), size - int(13 * s))
    c.arrow(int(1 * s), int(12 * s), int(24 * s), max(2, int(3 * s)), TEAL, right=True)
    return c


def write_bmp(path, c):
    row_bytes = (c.width * 3 + 3) & ~3
    data = bytearray()
    for y in reversed(range(c.height)):
        row = bytearray()
        for colour in c.pixels[y]:
            r, g, b = colour
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def icon_image(c, bits):
    """One icon image: BITMAPINFOHEADER (double height), palette, colour bits, AND mask."""
    if bits == 4:
        palette = VGA16
    else:
        used = sorted({p for row in c.pixels for p in row if p is not None})
        palette = (used + [(0, 0, 0)] * 256)[:256]
    index_of = {}
    colour_row = ((c.width * bits + 31) // 32) * 4
    mask_row = ((c.width + 31) // 32) * 4
    colours, mask = bytearray(), bytearray()
    for y in reversed(range(c.height)):
        indices, mask_bits = [], []
        for p in c.pixels[y]:
            if p is None:
                indices.append(0)
                mask_bits.append(1)
            else:
                if p not in index_of:
                    index_of[p] = nearest(palette, p)
                indices.append(index_of[p])
                mask_bits.append(0)
        row = bytearray()
        if bits == 4:
            for i in range(0, len(indices), 2):
                row.append((indices[i] << 4) | (indices[i + 1] if i + 1 < len(indices) else 0))
        else:
            row += bytes(indices)
        colours += row + b"\0" * (colour_row - len(row))
        mrow = bytearray()
        for i in range(0, len(mask_bits), 8):
            byte = 0
            for j, bit in enumerate(mask_bits[i:i + 8]):
                byte |= bit << (7 - j)
            mrow.append(byte)
        mask += mrow + b"\0" * (mask_row - len(mrow))
    header = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, bits, 0,
                         len(colours) + len(mask), 0, 0, len(palette), 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + colours + mask, len(palette)


def write_ico(path, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for c, bits in images:
        blob, colours = icon_image(c, bits)
        entries.append(struct.pack("<BBBBHHII", c.width % 256, c.height % 256,
                                   colours if colours < 256 else 0, 0, 1, bits, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs))


def main():
    os.makedirs(OUT, exist_ok=True)
    write_bmp(os.path.join(OUT, "banner.bmp"), banner())
    write_ico(os.path.join(OUT, "morvane.ico"), [(icon(32), 4), (icon(16), 4), (icon(48), 8)])


if __name__ == "__main__":
    main()
