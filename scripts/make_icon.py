#!/usr/bin/python3
"""Writes app/zelkora.ico: one 32x32 16-colour image, a strip of film with a "Z" in its frame.

Run once from the repository root; the .ico is committed, so the build needs no Python.
"""
import struct

SIZE = 32
# The 16 standard VGA colours, as B, G, R, 0.
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255)]  # R, G, B
BLACK, DARK_GRAY, WHITE, LIGHT_CYAN, BLUE = 0, 8, 15, 11, 9
CLEAR = None


def picture():
    rows = [[CLEAR] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(3, 29):  # the strip
            rows[y][x] = DARK_GRAY if x in (3, 28) else BLACK
        for x in (5, 6, 25, 26):  # sprocket holes, two rows of every four
            if y % 4 in (1, 2):
                rows[y][x] = WHITE
    for y in range(3, 29):  # the frame
        for x in range(9, 23):
            rows[y][x] = LIGHT_CYAN
    for x in range(11, 21):  # the Z: top bar, diagonal, bottom bar
        for y in (6, 7, 24, 25):
            rows[y][x] = BLUE
    for y in range(8, 24):
        x = 20 - (y - 8) * 9 // 15
        for dx in (-1, 0):
            rows[y][x + dx] = BLUE
    return rows


def ico_bytes(rows):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        nibbles = [c if c is not CLEAR else 0 for c in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is CLEAR else 0)
        mask += bits.to_bytes(4, "big")
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open("app/zelkora.ico", "wb") as out:
        out.write(ico_bytes(picture()))
