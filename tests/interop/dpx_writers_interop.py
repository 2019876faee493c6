#!/usr/bin/python3
"""DPX files as ffmpeg, oiiotool and GraphicsMagick write them, read by zelkora-frame.

Each writer gets one picture per size as 16-bit samples that its rounding to 10 or 12 bits takes
back to their 10-bit codes. zelkora-frame's export of each file must equal, byte for byte, its
export of the picture as ffmpeg writes it in 16-bit big-endian RGB (files_interop.py proves that
one). GraphicsMagick's 10-bit writer moves every code from 521 up down by one: those files ("own")
are compared with ffmpeg's 16-bit big-endian copy of them instead.

usage: dpx_writers_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop-dpx]
"""

import os
import subprocess
import sys

import numpy as np

from checks import Tally, arguments
from files_interop import ffmpeg
import reference as ref

SIZES = {"4k": (4096, 2160), "8k": (7680, 4320), "odd": (35, 9)}  # odd: rows end mid-word

# (size, writer and its arguments, the display sizes 1/n shown[, "own"])
FILES = [
    ("4k", ["ffmpeg", "-pix_fmt", "gbrp10be"], (1, 4)),  # 10-bit method A
    ("4k", ["ffmpeg", "-pix_fmt", "gbrp10le"], (1,)),
    ("4k", ["ffmpeg", "-pix_fmt", "rgb48le"], (4,)),
    ("4k", ["ffmpeg", "-pix_fmt", "rgba64be"], (1,)),  # RGBA
    ("4k", ["ffmpeg", "-pix_fmt", "gbrp12be"], (4,)),  # 12 bits in 16-bit words
    ("4k", ["oiiotool", "-d", "uint10"], (1, 4)),  # little-endian
    ("4k", ["oiiotool", "-d", "uint10", "--attrib", "oiio:Endian", "big"], (4,)),
    ("4k", ["oiiotool", "-d", "uint12"], (4,)),  # 12 bits packed
    ("4k", ["oiiotool", "-d", "uint16", "--attrib", "oiio:Endian", "big"], (1, 4)),
    ("4k", ["oiiotool", "-d", "uint10", "--flip", "--attrib", "Orientation", "3"], (1, 4)),
    ("4k", ["gm", "-depth", "10"], (4,), "own"),  # method A, big-endian
    ("4k", ["gm", "-depth", "10", "-define", "dpx:packing-method=b"], (4,), "own"),
    ("4k", ["gm", "-depth", "16", "-endian", "LSB"], (1, 4)),
    ("4k", ["gm", "-depth", "12", "-define", "dpx:packing-method=packed"], (1,)),
    ("8k", ["ffmpeg", "-pix_fmt", "gbrp10le"], (4,)),
    ("odd", ["ffmpeg", "-pix_fmt", "rgb48le"], (1,)),  # padded to 32 bits
    ("odd", ["oiiotool", "-d", "uint16"], (1,)),  # not padded
    ("odd", ["gm", "-depth", "12", "-endian", "LSB"], (1,)),
]


def write(work, name, command, out):
    """The picture `name` by the command's writer: ffmpeg from raw samples, the others a TIFF."""
    base = os.path.join(work, name)
    if command[0] == "ffmpeg":
        raw = ["-f", "rawvideo", "-pix_fmt", "rgb48le", "-video_size", "%dx%d" % SIZES[name]]
        ffmpeg(*raw, "-i", base + ".raw", *command[1:], out)
    else:
        tool = ["oiiotool", base + ".tif", *command[1:], "-o"] if command[0] == "oiiotool" else [
            "gm", "convert", base + ".tif", *command[1:]]
        subprocess.run([*tool, out], check=True)


def source(work, name):
    """Codes 4 to 1003, a ramp above noise, as 64c + k: k the least every rounding takes to c."""
    width, height = SIZES[name]
    x, y = np.meshgrid(np.arange(width), np.arange(height))
    noise = np.random.default_rng(width).integers(0, 1000, size=(height, width, 3))
    codes = np.where((y < height // 2)[..., None], (x * 1000 // width)[..., None], noise) + 4
    samples = codes * 64 + (-(-codes * 64 // 1023))
    assert ((samples * 1023 // 65536 == codes) & (np.rint(samples * 1023 / 65535) == codes)).all()
    samples.astype("<u2").tofile(os.path.join(work, name + ".raw"))
    write(work, name, ["ffmpeg", "-pix_fmt", "rgb48le"], os.path.join(work, name + ".tif"))
    write(work, name, ["ffmpeg", "-pix_fmt", "rgb48be"], os.path.join(work, name + ".dpx"))


def export(args, path, size):
    output = f"{path}.{size}.ppm"
    subprocess.run([args.tool, "--size", str(size), path, output], check=True, capture_output=True)
    with open(output, "rb") as f:
        return ref.parse_ppm(f.read(), output)


def main():
    args = arguments(__doc__, "build/interop-dpx", tool="build/native/tools/zelkora-frame")
    expected = {}  # each size's exports of its 16-bit big-endian copy, at 1 and 1/4

    def problems(n, name, command, shows, own):
        if name not in expected:
            source(args.work, name)
            path = os.path.join(args.work, name + ".dpx")
            expected[name] = {s: export(args, path, s) for s in (1, 4)}
        path = os.path.join(args.work, f"{n:02d}.dpx")
        try:
            write(args.work, name, command, path)
            if own:
                ffmpeg("-i", path, "-pix_fmt", "rgb48be", path + ".dpx")
            for show in shows:
                want = export(args, path + ".dpx", show) if own else expected[name][show]
                differ = int(np.any(export(args, path, show) != want, axis=-1).sum())
                if differ:
                    yield f"at 1/{show}: {differ} pixels differ"
        finally:
            for f in (f for f in os.listdir(args.work) if f.startswith(f"{n:02d}.")):
                os.remove(os.path.join(args.work, f))  # up to 200 MB each

    tally = Tally()
    for n, (name, command, shows, *own) in enumerate(FILES):
        shown = ", ".join(f"1/{s}" for s in shows)
        tally.run(f"{name} {' '.join(command)} at {shown}", problems, n, name, command, shows, own)
    return tally.end(args.work)

if __name__ == "__main__":
    sys.exit(main())
