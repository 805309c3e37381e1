#!/usr/bin/env python3
"""Draws the program icon: 64x64 pixels, 16 colours, written as a 4-bit palette PNG.

A photo card squeezed between two arrows on a blue tile. Run it from the
repository root to rewrite src/ui/resources/tinsoke.png; it needs only Python.
"""
import struct
import zlib

W = H = 64
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (24, 36, 66),     # 1 outline
    (38, 98, 196),    # 2 tile
    (82, 140, 226),   # 3 tile highlight
    (255, 255, 255),  # 4 card
    (200, 208, 220),  # 5 card shade
    (176, 222, 255),  # 6 sky
    (58, 154, 74),    # 7 hill
    (30, 104, 48),    # 8 far hill
    (250, 200, 50),   # 9 sun
    (245, 140, 36),   # 10 arrow
    (176, 88, 16),    # 11 arrow edge
    (20, 60, 130),    # 12 tile shadow
    (120, 180, 240),  # 13 sky light
    (255, 236, 150),  # 14 sun light
    (90, 90, 90),     # 15 grey
]

px = [[0] * W for _ in range(H)]


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


for y in range(H):
    for x in range(W):
        if inside_round_rect(x, y, 1, 1, 62, 62, 11):
            edge = not inside_round_rect(x, y, 2, 2, 61, 61, 10)
            px[y][x] = 1 if edge else (3 if y < 20 else (12 if y > 54 else 2))

# The photo card with its shade.
for y in range(17, 50):
    for x in range(17, 50):
        px[y][x] = 5
for y in range(14, 47):
    for x in range(14, 47):
        px[y][x] = 1 if x in (14, 46) or y in (14, 46) else 4
for y in range(17, 44):
    for x in range(17, 44):
        px[y][x] = 13 if y < 24 else 6
# Sun.
for y in range(17, 44):
    for x in range(17, 44):
        d = (x - 36) ** 2 + (y - 24) ** 2
        if d <= 9:
            px[y][x] = 14
        elif d <= 20:
            px[y][x] = 9
# Hills: a far one, then a near one.
for y in range(17, 44):
    for x in range(17, 44):
        if y >= 43 - (x - 17) * 0.9 and y >= 30 + abs(x - 26) * 0.8:
            px[y][x] = 8
        if y >= 34 + abs(x - 38) * 0.5:
            px[y][x] = 7

# Two arrows pressing the card from the sides.
def arrow(tip_x, direction):
    for y in range(22, 43):
        dy = abs(y - 32)
        for x in range(W):
            along = (x - tip_x) * -direction  # distance back from the tip
            if along < 0 or along > 11:
                continue
            head = along <= 5 and dy <= along + 1
            shaft = along > 5 and dy <= 2
            if head or shaft:
                border = (head and dy >= along) or (shaft and dy == 2) or along == 11
                px[y][x] = 11 if border else 10

arrow(13, +1)
arrow(48, -1)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


raw = bytearray()
for row in px:
    raw.append(0)
    for i in range(0, W, 2):
        raw.append((row[i] << 4) | row[i + 1])

png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 4, 3, 0, 0, 0))
png += chunk(b"PLTE", b"".join(struct.pack("BBB", *c) for c in PALETTE))
png += chunk(b"tRNS", b"\x00")
png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
png += chunk(b"IEND", b"")

with open("src/ui/resources/tinsoke.png", "wb") as f:
    f.write(png)
