#!/usr/bin/env python3
# Draws the monitor's image strip (images.bmp): 16x16 images side by side, magenta (255,0,255) where
# the image is transparent. Numbers as the object-tree scripts and the views use them:
#  0 device answering, 1 device not answering, 2 line idle, 3 line connecting, 4 line connected,
#  5 interface up, 6 interface down, 7 accounting table, 8 VPN tunnel up, 9 VPN tunnel down,
#  10 information, 11 load high, 12 ISDN channels, 13 device answering but refusing the registration
#  (a yellow light and a padlock), 14 accounting row of a user,
#  25/26 VPN connection not connected (26: second state 0), 27/28 connected (28: second state 0).
# Images without a use yet are a small grey dot. Run: python3 make_images.py > images.bmp
import struct, sys

N, S = 29, 16
KEY = (255, 0, 255)
px = [[KEY] * (N * S) for _ in range(S)]

def put(i, x, y, c):
    if 0 <= x < S and 0 <= y < S:
        px[y][i * S + x] = c

def rect(i, x0, y0, x1, y1, c, fill=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            if edge:
                put(i, x, y, c)
            elif fill:
                put(i, x, y, fill)

def line(i, x0, y0, x1, y1, c):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for k in range(n + 1):
        put(i, round(x0 + (x1 - x0) * k / n), round(y0 + (y1 - y0) * k / n), c)

def disc(i, cx, cy, r, c):
    for y in range(S):
        for x in range(S):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                put(i, x, y, c)

BLACK, GREY, DARK, WHITE = (0, 0, 0), (160, 160, 160), (96, 96, 96), (255, 255, 255)
GREEN, RED, YELLOW, BLUE = (0, 160, 0), (208, 0, 0), (224, 192, 0), (0, 64, 200)

def router(i, light):
    rect(i, 1, 6, 14, 11, BLACK, (200, 200, 200))
    for x in (3, 5, 7):
        put(i, x, 9, light)
        put(i, x, 8, light)
    line(i, 11, 5, 13, 1, DARK)

router(0, GREEN)
router(1, GREY)
line(1, 3, 3, 12, 13, RED)
line(1, 12, 3, 3, 13, RED)
for i, c in ((2, GREY), (3, YELLOW), (4, GREEN)):
    line(i, 1, 8, 14, 8, DARK)
    line(i, 1, 7, 14, 7, DARK)
    disc(i, 7.5, 7.5, 3.2, c)
for i, c, up in ((5, GREEN, True), (6, RED, False)):
    rect(i, 2, 10, 13, 14, BLACK, (200, 200, 200))
    for k in range(6):
        y = (1 + k) if up else (8 - k)
        line(i, 7 - k if up else 7 - (5 - k), y, 8 + k if up else 8 + (5 - k), y, c)
rect(7, 1, 2, 14, 13, BLACK, WHITE)
for y in (5, 8, 11):
    line(7, 1, y, 14, y, DARK)
line(7, 6, 2, 6, 13, DARK)
for i, c in ((8, GREEN), (9, RED)):
    rect(i, 1, 4, 14, 11, BLACK, c)
    line(i, 1, 7, 14, 7, WHITE)
    line(i, 1, 8, 14, 8, WHITE)
disc(10, 7.5, 7.5, 7, BLUE)
rect(10, 7, 6, 8, 12, WHITE, WHITE)
rect(10, 7, 3, 8, 4, WHITE, WHITE)
for k, h in enumerate((3, 6, 9, 13)):
    rect(11, 1 + k * 4, 15 - h, 3 + k * 4, 15, BLACK, RED if h > 8 else YELLOW)
for y, c in ((5, GREEN), (10, GREEN)):
    rect(12, 1, y - 1, 14, y + 1, BLACK, c)
# 13: the router answers (yellow light), a padlock: it refuses the monitor's write
router(13, YELLOW)
rect(13, 9, 0, 13, 3, DARK)
rect(13, 8, 3, 14, 8, BLACK, YELLOW)
put(13, 11, 5, BLACK)
put(13, 11, 6, BLACK)
# 14: a user (head and shoulders)
disc(14, 7.5, 4.5, 3, (232, 176, 120))
rect(14, 2, 9, 13, 15, BLACK, BLUE)
# 2 stays "line idle" for the tree; accounting rows with the "000000" identifier use it too.
for i, c, second in ((25, GREY, False), (26, GREY, True), (27, GREEN, False), (28, GREEN, True)):
    rect(i, 1, 4, 14, 11, BLACK, c)
    line(i, 1, 7, 14, 7, WHITE)
    line(i, 1, 8, 14, 8, WHITE)
    if second:
        disc(i, 12, 12, 3, YELLOW)
for i in range(N):
    if all(px[y][i * S + x] == KEY for y in range(S) for x in range(S)):
        disc(i, 7.5, 7.5, 2, GREY)

width = N * S
row = width * 3
pad = (4 - row % 4) % 4
data = b"".join(bytes(sum(((b, g, r) for (r, g, b) in px[y]), ())) + b"\0" * pad for y in reversed(range(S)))
header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, width, S, 1, 24, 0, len(data), 2835, 2835, 0, 0)
sys.stdout.buffer.write(header + info + data)
