#!/usr/bin/env python3
"""Draws Ostrel's bitmaps and icon (committed beside this script; run it again after a change).

tree16.bmp / tree20.bmp (bitmaps 1002, 1003): twelve status-tree images, magenta as the mask colour:
  0 local area network, 1 serial ports, 2 USB, 3 (unused), 4 device state unknown, 5 access denied or
  not compatible, 6 available, 7 all channels busy, 8 incoming call, 9 incoming connected,
  10 outgoing call, 11 outgoing connected.
tray16.bmp / tray20.bmp (bitmaps 1004, 1005): five tray icons: 0 no device available, 1 devices
  available, 2 with calls, 3 data flash, 4 deactivated.
ostrel.ico (icon 1006): 16 and 32 pixels.
"""
import struct, os

MAGENTA = (255, 0, 255)
HERE = os.path.dirname(os.path.abspath(__file__))


class Canvas:
    def __init__(self, w, h, bg=MAGENTA):
        self.w, self.h = w, h
        self.px = [[bg] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):  # inclusive
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c); self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c); self.put(x1, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(int(cy - r - 1), int(cy + r + 2)):
            for x in range(int(cx - r - 1), int(cx + r + 2)):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def line(self, x0, y0, x1, y1, c, width=1):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = x0 + (x1 - x0) * i / n
            y = y0 + (y1 - y0) * i / n
            for dx in range(width):
                for dy in range(width):
                    self.put(int(round(x)) + dx, int(round(y)) + dy, c)

    def blit(self, other, ox):
        for y in range(other.h):
            for x in range(other.w):
                self.px[y][ox + x] = other.px[y][x]


def s(v, size):  # scale a coordinate given for 16 pixels
    return int(round(v * size / 16))


BLACK, WHITE, GRAY, DARK = (0, 0, 0), (255, 255, 255), (160, 160, 160), (64, 64, 64)
GREEN, RED, ORANGE, BLUE, YELLOW = (0, 160, 0), (208, 0, 0), (240, 144, 0), (0, 80, 200), (255, 220, 0)


def box(c, size, body):  # a CAPI box: a small router with two lamps
    c.rect(s(1, size), s(5, size), s(14, size), s(11, size), body)
    c.frame(s(1, size), s(5, size), s(14, size), s(11, size), DARK)
    c.line(s(3, size), s(4, size), s(3, size), s(2, size), DARK)
    c.line(s(12, size), s(4, size), s(12, size), s(2, size), DARK)


def lamp(c, size, colour):
    c.rect(s(10, size), s(7, size), s(12, size), s(9, size), colour)


def arrow(c, size, right, colour):
    y = s(12, size)
    x0, x1 = (s(3, size), s(12, size)) if right else (s(12, size), s(3, size))
    c.line(x0, y, x1, y, colour, 2)
    d = 1 if right else -1
    c.line(x1, y, x1 - d * s(3, size), y - s(3, size), colour, 2)
    c.line(x1, y, x1 - d * s(3, size), y + s(3, size), colour, 2)


def handset(c, size, colour):
    c.rect(s(3, size), s(2, size), s(12, size), s(4, size), colour)
    c.rect(s(3, size), s(2, size), s(5, size), s(7, size), colour)
    c.rect(s(10, size), s(2, size), s(12, size), s(7, size), colour)


def tree_image(i, size):
    c = Canvas(size, size)
    if i == 0:  # local area network: three boxes on a cable
        c.line(s(1, size), s(13, size), s(14, size), s(13, size), DARK)
        for x in (1, 6, 11):
            c.rect(s(x, size), s(3, size), s(x + 3, size), s(8, size), BLUE)
            c.line(s(x + 1, size), s(9, size), s(x + 1, size), s(13, size), DARK)
    elif i == 1:  # serial ports: a plug with pins
        c.rect(s(2, size), s(4, size), s(13, size), s(10, size), GRAY)
        c.frame(s(2, size), s(4, size), s(13, size), s(10, size), DARK)
        for x in (4, 7, 10):
            c.put(s(x, size), s(6, size), BLACK); c.put(s(x + 1, size), s(8, size), BLACK)
        c.line(s(7, size), s(11, size), s(7, size), s(15, size), DARK, 2)
    elif i == 2:  # USB: a fork
        c.line(s(8, size), s(2, size), s(8, size), s(14, size), DARK, 2)
        c.line(s(8, size), s(9, size), s(3, size), s(5, size), DARK, 2)
        c.line(s(8, size), s(7, size), s(13, size), s(4, size), DARK, 2)
        c.disc(s(8, size), s(14, size), s(2, size), DARK)
        c.disc(s(3, size), s(4, size), s(1.5, size), BLUE)
        c.rect(s(12, size), s(2, size), s(14, size), s(4, size), BLUE)
    elif i == 3:
        pass
    elif 4 <= i <= 7:
        box(c, size, {4: GRAY, 5: (230, 200, 200), 6: (200, 235, 200), 7: (250, 225, 180)}[i])
        lamp(c, size, {4: DARK, 5: RED, 6: GREEN, 7: ORANGE}[i])
        if i == 5:
            c.line(s(2, size), s(13, size), s(13, size), s(3, size), RED, 2)
        if i == 4:
            c.rect(s(4, size), s(7, size), s(6, size), s(9, size), WHITE)
    else:  # calls: a handset and an arrow, green when connected
        connected = i in (9, 11)
        handset(c, size, GREEN if connected else DARK)
        arrow(c, size, i in (10, 11), BLUE)
    return c


def tray_image(i, size):
    c = Canvas(size, size)
    box(c, size, {0: GRAY, 1: (200, 235, 200), 2: (200, 235, 200), 3: (255, 250, 200), 4: GRAY}[i])
    lamp(c, size, {0: DARK, 1: GREEN, 2: GREEN, 3: YELLOW, 4: DARK}[i])
    if i in (2, 3):
        c.rect(s(3, size), s(7, size), s(7, size), s(9, size), BLUE)  # a call on it
        c.rect(s(2, size), s(13, size), s(13, size), s(14, size), YELLOW if i == 3 else BLUE)
    if i == 4:
        c.line(s(2, size), s(2, size), s(13, size), s(14, size), RED, 2)
        c.line(s(13, size), s(2, size), s(2, size), s(14, size), RED, 2)
    return c


def strip(images, size):
    out = Canvas(size * len(images), size)
    for n, img in enumerate(images):
        out.blit(img, n * size)
    return out


def write_bmp(path, c):
    row = (c.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(c.h - 1, -1, -1):
        line = bytearray()
        for x in range(c.w):
            r, g, b = c.px[y][x]
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def icon_entry(c):
    xor = bytearray()
    for y in range(c.h - 1, -1, -1):
        for x in range(c.w):
            p = c.px[y][x]
            xor += bytes((0, 0, 0, 0)) if p == MAGENTA else bytes((p[2], p[1], p[0], 255))
    mask_row = ((c.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(c.h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(c.w):
            if c.px[y][x] == MAGENTA:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, canvases):
    entries = [icon_entry(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for c, e in zip(canvases, entries):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(e), offset)
        offset += len(e)
    with open(path, 'wb') as f:
        f.write(out + b''.join(entries))


if __name__ == '__main__':
    for size, name in ((16, 'tree16.bmp'), (20, 'tree20.bmp')):
        write_bmp(os.path.join(HERE, name), strip([tree_image(i, size) for i in range(12)], size))
    for size, name in ((16, 'tray16.bmp'), (20, 'tray20.bmp')):
        write_bmp(os.path.join(HERE, name), strip([tray_image(i, size) for i in range(5)], size))
    write_ico(os.path.join(HERE, 'ostrel.ico'), [tray_image(2, 16), tray_image(2, 32)])
