#!/usr/bin/python3
"""zelkora-frame.exe under Wine against the Linux zelkora-frame, and the reasons both give for
files other programs wrote that the viewer does not read.

Every case runs both tools with the same arguments: the exit code, what they print (line ends
aside) and every byte of the picture they write must be the same. Refused files must say the
reason a user would expect, after the message. A PNG must hold the pixels of the PPM, as
ImageMagick reads it. Run from the repository root, after both builds.
"""

import os
import re
import shutil
import subprocess
import sys

from checks import ERRORS, Tally, fresh_folder
from files_interop import ffmpeg

TOOL, EXE = "build/native/tools/zelkora-frame", "build/win32/tools/zelkora-frame.exe"
PATTERN, PREFIX = "build/native/tools/zelkora-testpattern", os.path.abspath("build/wine-unit")
WORK = "build/interop/frame_tool"
SOURCE = ["-f", "lavfi", "-i", "testsrc2=s=96x54:r=24:d=0.125"]
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
REFUSED = "Error: Invalid image file!\n"
V210_ONLY = "; only uncompressed v210 is read"
with open("CMakeLists.txt") as cmake:
    VERSION = re.search(r"project\(zelkora VERSION ([0-9.]+)", cmake.read())[1]


def make_files():
    def pattern(fmt, size, frames, name):
        subprocess.run([PATTERN, "--format", fmt, "--size", size, "--frames", str(frames), WORK,
                        name], check=True, stdout=subprocess.DEVNULL)
    pattern("dpx", "4k", 3, "shot")
    os.rename(f"{WORK}/shot_0003.dpx", f"{WORK}/shot_0005.dpx")
    for folder in ("shot_0000.dpx", "shot_0003.dpx", "shot_0009.dpx"):  # named like frames
        os.makedirs(os.path.join(WORK, folder))
    pattern("planar", "4k", 1, "clip")
    for plane in "rg":  # a frame without its blue plane
        shutil.copy(f"{WORK}/clip_0001.4K.{plane}", f"{WORK}/part_0001.4K.{plane}")
    pattern("mov", "4k", 2, "take")
    ffmpeg(*SOURCE, "-frames:v", "1", "-pix_fmt", "gbrp10le", f"{WORK}/real_0001.dpx")
    ffmpeg(*SOURCE, "-frames:v", "1", "-pix_fmt", "gray", f"{WORK}/grey_0001.dpx")
    ffmpeg(*SOURCE, "-frames:v", "1", "-pix_fmt", "rgb48le", f"{WORK}/source.tif")
    subprocess.run(["gm", "convert", f"{WORK}/source.tif", "-colorspace", "Rec709YCbCr",
                    "-sampling-factor", "4:2:2", "-depth", "10", f"{WORK}/scan_0001.dpx"],
                   check=True)
    ffmpeg(*SOURCE, "-c:v", "prores_ks", "-profile:v", "2", f"{WORK}/prores.mov")
    ffmpeg(*SOURCE, "-c:v", "libx264", f"{WORK}/h264.mov")
    ffmpeg(*SOURCE, "-c:v", "v210", "-movflags", "frag_keyframe+empty_moov",
           f"{WORK}/fragments.mov")


# (arguments, the output's name or None, stderr expected of both or None: not looked at[,
# stdout expected])
CASES = [
    (["--version"], None, "", "zelkora-frame " + VERSION + "\n"),
    (["--list", "shot_0002.dpx"], None, "", "3\nshot_0001.dpx\nshot_0002.dpx\nshot_0005.dpx\n"),
    (["--frame", "2", "shot_0001.dpx"], "a.ppm", ""),  # the last frame (5), not a folder (3)
    (["--size", "1", "--bt709", "shot_0002.dpx"], "b.png", ""),
    (["--size", "2", "--hdr-to-sdr", "real_0001.dpx"], "c.ppm", ""),
    (["--size", "8", "clip_0001.4K.g"], "d.png", ""),
    (["--frame", "1", "--bt709", "--hdr-to-sdr", "take.mov"], "e.ppm", ""),
    (["--list", "take.mov"], None, "", "2\ntake.mov\n"),
    (["scan_0001.dpx"], "f.ppm",
     REFUSED + "scan_0001.dpx: DPX in YCbCr 4:2:2 (descriptor 100) is not read; RGB and RGBA are\n"),
    (["grey_0001.dpx"], "f.ppm",
     REFUSED + "grey_0001.dpx: DPX in luma (descriptor 6) is not read; RGB and RGBA are\n"),
    (["prores.mov"], "f.ppm",
     REFUSED + "prores.mov: the picture track is ProRes 422 ('apcn')" + V210_ONLY + "\n"),
    (["h264.mov"], "f.ppm", REFUSED + "h264.mov: the picture track is H.264 ('avc1')" + V210_ONLY
     + "\n"),
    (["fragments.mov"], "f.ppm", REFUSED + "fragments.mov: a fragmented movie (moof) is not read\n"),
    (["part_0001.4K.r"], "f.ppm", REFUSED + "part_0001.4K.b: the blue plane is missing\n"),
    (["shot_0003.dpx"], "f.ppm", ""),  # a folder: the first frame beside it opens
    (["missing_1.dpx"], "f.ppm", "Error: Can't open file!\nmissing_1.dpx: no such file\n"),
]


def run(command, args, output):
    paths = [os.path.join(WORK, a) if not a.startswith("-") and not a.isdigit() else a
             for a in args]
    out = [os.path.join(WORK, output)] if output else []
    result = subprocess.run([*command, *paths, *out], capture_output=True, env=ENV,
                            stdin=subprocess.DEVNULL, timeout=300)
    picture = b""
    if output and os.path.exists(out[0]):
        with open(out[0], "rb") as f:
            picture = f.read()
        os.remove(out[0])
    text = [result.stdout.replace(b"\r\n", b"\n").decode(),
            result.stderr.replace(b"\r\n", b"\n").decode().replace(os.path.abspath(WORK) + "/", "")]
    return result.returncode, text, picture


def problems(args, output, stderr, stdout=None):
    native = run([TOOL], args, output)
    windows = run(["wine", EXE], args, output)
    if native != windows:
        yield (f"zelkora-frame.exe differs: exit {windows[0]} {windows[1]} {len(windows[2])} "
               f"bytes, native exit {native[0]} {native[1]} {len(native[2])} bytes")
    if stderr is not None and native[1][1] != stderr:
        yield f"says {native[1][1]!r}"
    if stdout is not None and native[1][0] != stdout:
        yield f"prints {native[1][0]!r}"
    if output and output.endswith(".png") and native[2]:
        ppm = run([TOOL], args, "p.ppm")[2]
        seen = subprocess.run(["convert", "png:-", "-depth", "8", "ppm:-"], input=native[2],
                              capture_output=True, check=True).stdout
        if seen.split(b"\n", 3)[3] != ppm.split(b"\n", 3)[3]:
            yield "ImageMagick reads other pixels from the PNG than the PPM holds"


def linking_problems():
    """A console program that needs nothing but the system's own DLLs."""
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", EXE], capture_output=True,
                          text=True).stdout
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    if "(Windows CUI)" not in dump or not dlls or dlls - {"kernel32.dll", "msvcrt.dll"}:
        yield f"links {sorted(dlls)}, {'a console' if 'CUI' in dump else 'no console'} program"


def main():
    fresh_folder(WORK)
    tally = Tally()
    tally.run(f"{EXE} links statically", linking_problems)
    if not os.path.exists(os.path.join(PREFIX, "system.reg")):
        subprocess.run(["wineboot", "-i"], env=ENV, capture_output=True)
    try:
        make_files()
    except ERRORS as error:
        print(f"FAIL making the files: {error}")
        return 1
    for args, output, *expected in CASES:
        tally.run(" ".join(args), problems, args, output, *expected)
    return tally.end(WORK)

if __name__ == "__main__":
    sys.exit(main())
