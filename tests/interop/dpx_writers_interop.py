#!/usr/bin/python3
"""DPX files as ffmpeg, oiiotool and GraphicsMagick write them, read by zelkora-frame.

One picture per size is handed to every writer as 16-bit samples, each holding a 10-bit code in
its top bits and low bits that every writer's rounding to 10 or 12 bits takes back to that code.
zelkora-frame's export of each file must equal, byte for byte, its export of the same picture
written by ffmpeg as 16-bit big-endian RGB (files_interop.py proves that one against ffmpeg).
GraphicsMagick's 10-bit writer moves every code from 521 up down by one: its files are compared
with ffmpeg's 16-bit big-endian copy of them instead ("own" below).

usage: dpx_writers_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop-dpx]
"""

import argparse
import os
import shutil
import subprocess
import sys

import numpy as np

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
    ("4k", ["oiiotool", "-d", "uint16"], (1,)),
    ("4k", ["oiiotool", "-d", "uint16", "--attrib", "oiio:Endian", "big"], (4,)),
    ("4k", ["oiiotool", "-d", "uint10", "--flip", "--attrib", "Orientation", "3"], (1, 4)),
    ("4k", ["gm", "-depth", "10"], (4,), "own"),  # method A, big-endian
    ("4k", ["gm", "-depth", "10", "-endian", "LSB"], (1,), "own"),
    ("4k", ["gm", "-depth", "10", "-define", "dpx:packing-method=b"], (4,), "own"),
    ("4k", ["gm", "-depth", "16", "-endian", "LSB"], (4,)),
    ("4k", ["gm", "-depth", "12", "-define", "dpx:packing-method=packed"], (1,)),
    ("8k", ["ffmpeg", "-pix_fmt", "gbrp10le"], (4,)),
    ("odd", ["ffmpeg", "-pix_fmt", "rgb48le"], (1,)),  # padded to 32 bits
    ("odd", ["ffmpeg", "-pix_fmt", "gbrp12le"], (1,)),
    ("odd", ["oiiotool", "-d", "uint16"], (1,)),  # not padded
    ("odd", ["gm", "-depth", "16"], (1,)),
    ("odd", ["gm", "-depth", "12", "-endian", "LSB"], (1,)),
]


def source(folder, name, size):
    """The picture as raw rgb48le and as a TIFF; codes 4 to 1003 (a 16-bit sample 64c + k is
    read back as c by truncation, by rounding, and by scaling by 1023/65535 or 1023/65536)."""
    width, height = size
    x, y = np.meshgrid(np.arange(width), np.arange(height))
    noise = np.random.default_rng(width).integers(0, 1000, size=(height, width, 3))
    codes = np.where((y < height // 2)[..., None], (x * 1000 // width)[..., None] + [0, 0, 0],
                     noise) + 4
    samples = codes * 64 + (-(-codes * 64 // 1023))
    assert ((samples * 1023 // 65536 == codes) & (np.rint(samples * 1023 / 65535) == codes)).all()
    raw = os.path.join(folder, f"{name}.raw")
    samples.astype("<u2").tofile(raw)
    ffmpeg("-f", "rawvideo", "-pix_fmt", "rgb48le", "-video_size", f"{width}x{height}", "-i", raw,
           "-pix_fmt", "rgb48le", os.path.join(folder, f"{name}.tif"))
    return raw


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", *args], check=True)


def write(folder, name, size, command, out):
    tif = os.path.join(folder, f"{name}.tif")
    if command[0] == "ffmpeg":
        ffmpeg("-f", "rawvideo", "-pix_fmt", "rgb48le", "-video_size", f"{size[0]}x{size[1]}",
               "-i", os.path.join(folder, f"{name}.raw"), *command[1:], out)
    elif command[0] == "oiiotool":
        subprocess.run(["oiiotool", tif, *command[1:], "-o", out], check=True)
    else:
        subprocess.run(["gm", "convert", tif, *command[1:], out], check=True)


def export(args, path, size):
    output = path + f".{size}.ppm"
    result = subprocess.run([args.tool, "--size", str(size), path, output], capture_output=True,
                            text=True)
    if result.returncode != 0:
        raise ValueError(f"exit {result.returncode}: {result.stderr}")
    with open(output, "rb") as f:
        return ref.parse_ppm(f.read(), output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default="build/native/tools/zelkora-frame")
    parser.add_argument("--work", default="build/interop-dpx")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tally, expected = [0, 0], {}
    for n, (name, command, shows, *own) in enumerate(FILES):
        size = SIZES[name]
        try:
            if name not in expected:
                source(args.work, name, size)
                reference = os.path.join(args.work, f"{name}-rgb48be.dpx")
                write(args.work, name, size, ["ffmpeg", "-pix_fmt", "rgb48be"], reference)
                expected[name] = {s: export(args, reference, s) for s in (1, 4)}
            path = os.path.join(args.work, f"{n:02d}.dpx")
            write(args.work, name, size, command, path)
            if own:
                ffmpeg("-i", path, "-pix_fmt", "rgb48be", path + ".dpx")
            for show in shows:
                got = export(args, path, show)
                want = export(args, path + ".dpx", show) if own else expected[name][show]
                problem = None if np.array_equal(got, want) else (
                    f"{np.any(got != want, axis=-1).sum()} pixels differ")
                tally[problem is not None] += 1
                print(f"{'FAIL' if problem else 'PASS'} {name} {' '.join(command)} at 1/{show}"
                      + (f": {problem}" if problem else ""), flush=True)
            os.remove(path)
        except (subprocess.CalledProcessError, ValueError, OSError) as error:
            tally[1] += 1
            print(f"FAIL {name} {' '.join(command)}: {error}", flush=True)
    shutil.rmtree(args.work)
    print(f"{tally[0]} passed, {tally[1]} failed")
    return 1 if tally[1] else 0


if __name__ == "__main__":
    sys.exit(main())
