#!/usr/bin/env python3
"""Draws the window's pictures and icons (PNG) into resources/pictures.

Plain shapes and a 5x7 letter grid, written with zlib alone, so the pictures can be made
again on any machine with Python 3: python3 resources/make_pictures.py
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pictures")

FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
}


class Canvas:
    def __init__(self, w, h, bg=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[bg for _ in range(w)] for _ in range(h)]

    def dot(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.dot(x, y, c)

    def round_rect(self, x0, y0, x1, y1, r, c):
        for y in range(y0, y1):
            for x in range(x0, x1):
                dx = max(x0 + r - x, 0, x - (x1 - 1 - r))
                dy = max(y0 + r - y, 0, y - (y1 - 1 - r))
                if dx * dx + dy * dy <= r * r:
                    self.dot(x, y, c)

    def ring(self, cx, cy, r0, r1, c, a0=0.0, a1=360.0):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                a = math.degrees(math.atan2(cy - y - 0.5, x + 0.5 - cx)) % 360
                if r0 <= d <= r1 and a0 <= a <= a1:
                    self.dot(x, y, c)

    def line(self, x0, y0, x1, y1, width, c):
        n = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(n + 1):
            t = i / n
            x, y = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
            self.round_dot(x, y, width / 2, c)

    def round_dot(self, cx, cy, r, c):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= r:
                    self.dot(x, y, c)

    def text(self, s, x, y, scale, c):
        for ch in s:
            for gy, row in enumerate(FONT[ch]):
                for gx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x + gx * scale, y + gy * scale, x + (gx + 1) * scale, y + (gy + 1) * scale, c)
            x += 6 * scale

    def save(self, name):
        raw = b"".join(b"\0" + b"".join(struct.pack("BBBB", *p) for p in row) for row in self.px)

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(png)


WHITE = (255, 255, 255, 255)
DARK = (40, 48, 60, 255)
BLUE = (30, 90, 170, 255)
GREEN = (20, 160, 60, 255)
RED = (200, 30, 30, 255)
ORANGE = (230, 140, 20, 255)


def word_picture(name, word, colour):
    c = Canvas(160, 64)
    c.round_rect(0, 0, 160, 64, 10, colour)
    width = len(word) * 6 * 5 - 5
    c.text(word, (160 - width) // 2, (64 - 35) // 2, 5, WHITE)
    c.save(name)


def logo():
    c = Canvas(96, 48)
    c.round_rect(0, 0, 96, 48, 8, BLUE)
    # a hub: one upstream line fanning out to four ports
    c.line(14, 24, 30, 24, 3, WHITE)
    for y in (10, 19, 29, 38):
        c.line(30, 24, 42, y, 2, WHITE)
        c.rect(42, y - 2, 47, y + 3, WHITE)
    c.text("MP", 54, 17, 2, WHITE)
    c.save("logo.png")


def icon(name, draw):
    c = Canvas(32, 32)
    draw(c)
    c.save(name)


def folder(c, colour=ORANGE):
    c.round_rect(3, 8, 15, 14, 2, colour)
    c.round_rect(3, 11, 29, 27, 2, colour)


def draw_exit(c):
    c.line(8, 8, 24, 24, 4, RED)
    c.line(24, 8, 8, 24, 4, RED)


def draw_min(c):
    c.rect(7, 21, 25, 25, DARK)


def draw_load(c):
    folder(c)
    c.line(16, 24, 16, 14, 3, WHITE)
    c.line(16, 13, 11, 18, 3, WHITE)
    c.line(16, 13, 21, 18, 3, WHITE)


def draw_save(c):
    c.round_rect(4, 4, 28, 28, 3, BLUE)
    c.rect(9, 4, 23, 12, WHITE)
    c.rect(18, 6, 21, 10, BLUE)
    c.rect(8, 17, 24, 28, WHITE)


def draw_lock(c, closed=True):
    c.round_rect(6, 14, 26, 29, 3, DARK)
    c.round_dot(16, 21, 2.5, WHITE)
    c.ring(16, 14, 5, 8.5, DARK, 0, 180)
    if closed:
        c.rect(7, 12, 11, 15, DARK)
        c.rect(21, 12, 25, 15, DARK)
    else:
        c.rect(7, 12, 11, 15, DARK)


def draw_unlock(c):
    c.round_rect(6, 14, 26, 29, 3, GREEN)
    c.round_dot(16, 21, 2.5, WHITE)
    c.ring(22, 9, 5, 8.5, GREEN, 0, 180)
    c.rect(27, 9, 31, 13, GREEN)
    c.rect(13, 9, 17, 15, GREEN)


def draw_check_config(c):
    c.ring(13, 13, 6, 9, BLUE)
    c.line(20, 20, 28, 28, 4, BLUE)
    c.line(9, 13, 12, 16, 2, GREEN)
    c.line(12, 16, 17, 10, 2, GREEN)


def draw_browse(c):
    folder(c, (210, 170, 40, 255))
    c.round_dot(12, 20, 1.5, DARK)
    c.round_dot(17, 20, 1.5, DARK)
    c.round_dot(22, 20, 1.5, DARK)


def draw_more_config(c):
    c.ring(16, 16, 5, 10, DARK)
    for a in range(0, 360, 45):
        x = 16 + 11 * math.cos(math.radians(a))
        y = 16 + 11 * math.sin(math.radians(a))
        c.round_dot(x, y, 2.5, DARK)


def draw_start(c):
    for y in range(6, 27):
        half = (y - 6) if y <= 16 else (26 - y)
        c.rect(10, y, 10 + int(half * 1.6) + 1, y + 1, GREEN)


def draw_remove(c):
    c.line(16, 5, 7, 16, 4, BLUE)
    c.line(16, 5, 25, 16, 4, BLUE)
    c.rect(7, 22, 26, 27, BLUE)


def draw_clear(c):
    c.ring(16, 16, 8, 11, DARK, 60, 360)
    c.line(22, 4, 24, 10, 3, DARK)
    c.line(24, 10, 18, 10, 3, DARK)


def draw_pd(c):
    c.line(18, 3, 9, 18, 3, ORANGE)
    c.line(9, 18, 22, 14, 3, ORANGE)
    c.line(22, 14, 13, 29, 3, ORANGE)


def draw_app(c):
    c.round_rect(1, 1, 31, 31, 6, BLUE)
    c.text("M", 4, 9, 2, WHITE)
    c.text("P", 17, 9, 2, WHITE)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    word_picture("pass.png", "PASS", GREEN)
    word_picture("fail.png", "FAIL", RED)
    logo()
    for name, fn in [("exit.png", draw_exit), ("min.png", draw_min), ("load_ini.png", draw_load),
                     ("save_ini.png", draw_save), ("lock.png", draw_lock), ("unlock.png", draw_unlock),
                     ("check_config.png", draw_check_config), ("browse.png", draw_browse),
                     ("more_config.png", draw_more_config), ("start.png", draw_start),
                     ("safely_remove.png", draw_remove), ("clear.png", draw_clear), ("pd.png", draw_pd),
                     ("app.png", draw_app)]:
        icon(name, fn)
