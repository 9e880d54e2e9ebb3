#!/usr/bin/env python3
"""make_icons.py OUTDIR: draws the client's icons (app.ico, folder.ico and the
tray's working.ico and attention.ico) as
32-bit icons in 16, 32 and 48 pixel sizes. Drawn here, pixel by pixel."""
import struct
import sys


def app_pixel(x, y, n, dot=(60, 200, 90, 255)):
    """A blue disc with a white "K" and a small sync dot: green when synchronised,
    amber while working, red when the user is needed."""
    cx = cy = (n - 1) / 2
    r = n / 2 - 0.5
    d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
    if d > r:
        return (0, 0, 0, 0)
    u, v = x / n, y / n  # 0..1, y downwards
    stem = 0.30 <= u <= 0.42 and 0.22 <= v <= 0.78
    arm = abs((u - 0.42) - abs(v - 0.5) * 0.95) < 0.075 and 0.22 <= v <= 0.78 and u >= 0.40
    if stem or arm:
        return (255, 255, 255, 255)
    if ((u - 0.76) ** 2 + (v - 0.76) ** 2) ** 0.5 < 0.11:
        return dot
    shade = int(40 * (y / n))
    return (30, 90 - shade // 2, 200 - shade, 255)


def folder_pixel(x, y, n):
    """A yellow folder with a darker tab."""
    u, v = x / n, y / n
    if 0.08 <= u <= 0.45 and 0.18 <= v <= 0.30:
        return (225, 170, 40, 255)
    if 0.08 <= u <= 0.92 and 0.28 <= v <= 0.84:
        edge = u < 0.12 or u > 0.88 or v > 0.80 or v < 0.32
        return (200, 140, 20, 255) if edge else (250, 205, 80, 255)
    return (0, 0, 0, 0)


def icon_image(pixel, n):
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(n)):  # bottom-up
        row = b""
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_row = b"\0" * (((n + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * n


def write_icon(path, pixel, sizes=(16, 32, 48)):
    images = [icon_image(pixel, n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    outdir = sys.argv[1]
    write_icon(f"{outdir}/app.ico", app_pixel)
    write_icon(f"{outdir}/folder.ico", folder_pixel)
    write_icon(f"{outdir}/working.ico", lambda x, y, n: app_pixel(x, y, n, (250, 170, 20, 255)))
    write_icon(f"{outdir}/attention.ico", lambda x, y, n: app_pixel(x, y, n, (220, 30, 30, 255)))
