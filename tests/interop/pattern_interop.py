#!/usr/bin/python3
"""zelkora-testpattern files, read back three ways.

For each layout (DPX, planar, movie) the test pattern is written, then:
  - the expected bitmap is decoded from the file's bytes by reference.py alone, and
    zelkora-frame must show exactly it at every display size (options off, and both on at 1/4);
  - the marker must come out in the top-left corner (upright, not mirrored);
  - for the movie, ffmpeg must read the same v210 samples and frame count, so the file is a
    movie other tools accept, not only the viewer.

usage: pattern_interop.py [--tool build/native/tools/zelkora-frame]
                          [--pattern build/native/tools/zelkora-testpattern] [--work build/interop]
"""

import os
import shutil
import subprocess
import sys

import numpy as np

import reference as ref

WIDTH, HEIGHT = 3840, 2160
V210_FRAME_BYTES = (2 * WIDTH // 3) * 4 * HEIGHT
FRAMES = 2


def write_pattern(tool, folder, fmt, *extra):
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([tool, "--format", fmt, "--frames", str(FRAMES), *extra, folder, "pat"],
                   check=True)


def dpx_pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    offset = int.from_bytes(data[4:8], "big")
    width = int.from_bytes(data[772:776], "big")
    height = int.from_bytes(data[776:780], "big")
    samples = np.frombuffer(data, dtype=">u2", count=width * height * 3, offset=offset)
    return ref.rgb16_to_pixels(samples.reshape(height, width, 3))


def planar_pixels(stem):
    planes = [np.fromfile(stem + c, dtype=">u2").reshape(HEIGHT, WIDTH) for c in "rgb"]
    return ref.planar12_to_pixels(np.stack(planes, axis=-1))


def movie_samples(path, frame):
    with open(path, "rb") as f:
        f.seek(ref.mdat_payload_offset(path)[0] + frame * V210_FRAME_BYTES)
        return ref.unpack_v210(f.read(V210_FRAME_BYTES), WIDTH, HEIGHT)


def check_sizes(tally, tool, label, input_path, pixels, out, frame=None):
    cases = [(size, False, False) for size in (1, 2, 4, 8)] + [(4, True, True)]
    for size, hdr, bt709 in cases:
        shift = size.bit_length() - 1
        expected = ref.apply_options(ref.decimate(pixels, shift), hdr_to_sdr=hdr, bt709=bt709)
        name = f"{label} at 1/{size}" + (" both options" if hdr else "")
        got = ref.check_frame(tally, tool, name, input_path, os.path.join(out, "pattern.ppm"),
                              expected, size=size, hdr_to_sdr=hdr, bt709=bt709, frame=frame)
        if got is not None and size == 4 and not hdr:
            tally.check(f"{label} marker top-left", marker_problem(got))


def marker_problem(picture):
    """The red square of the marker must sit in the top-left sixteenth of the picture."""
    # Through YCbCr and back the red is not exactly (255, 0, 0).
    red = (picture[..., 0] >= 240) & (picture[..., 1] <= 16) & (picture[..., 2] <= 16)
    h, w = red.shape
    corner = red[: h // 4, : w // 4]
    if not corner.any():
        return "no red in the top-left corner"
    # The red bar lies further right; the marker alone reaches into the left quarter.
    if red[:, : w // 4].sum() != corner.sum():
        return "red in the left quarter outside the top-left corner"
    return None


def check_movie_with_ffmpeg(tally, label, path):
    """ffmpeg decodes our v210 to the very samples our own unpacking finds."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                            "-show_entries", "stream=codec_name,nb_read_frames", "-of",
                            "csv=p=0", path], capture_output=True, text=True)
    tally.check(f"{label}: ffprobe sees v210 and the frame count",
                None if probe.stdout.strip() == f"v210,{FRAMES}" else probe.stdout.strip())
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt",
                          "yuv422p10le", "-"], capture_output=True).stdout
    planes = np.frombuffer(raw, dtype="<u2")
    per_frame = WIDTH * HEIGHT * 2
    if planes.size != per_frame * FRAMES:
        tally.check(f"{label}: ffmpeg decodes the same samples", f"{planes.size} samples")
        return
    for frame in range(FRAMES):
        p = planes[frame * per_frame : (frame + 1) * per_frame].astype(np.int64)
        y = p[: WIDTH * HEIGHT].reshape(HEIGHT, WIDTH)
        cb = p[WIDTH * HEIGHT : WIDTH * HEIGHT * 3 // 2].reshape(HEIGHT, WIDTH // 2)
        cr = p[WIDTH * HEIGHT * 3 // 2 :].reshape(HEIGHT, WIDTH // 2)
        oy, ocb, ocr = movie_samples(path, frame)
        same = (np.array_equal(y, oy) and np.array_equal(cb, ocb[:, ::2])
                and np.array_equal(cr, ocr[:, ::2]))
        tally.check(f"{label}: ffmpeg decodes the same samples, frame {frame}",
                    None if same else "samples differ")


def run(tally, args):
    work = os.path.join(args.work, "pattern")
    out = os.path.join(work, "out")

    folder = os.path.join(work, "dpx")
    write_pattern(args.pattern, folder, "dpx")
    os.makedirs(out, exist_ok=True)
    second = os.path.join(folder, "pat_0002.dpx")
    dpx = dpx_pixels(second)
    check_sizes(tally, args.tool, "pattern dpx", second, dpx, out)

    folder = os.path.join(work, "planar")
    write_pattern(args.pattern, folder, "planar")
    stem = os.path.join(folder, "pat_0002.4K.")
    planar = planar_pixels(stem)
    tally.check("planar pattern decodes to the DPX pattern", ref.compare_images(planar, dpx))
    check_sizes(tally, args.tool, "pattern planar", stem + "g", planar, out)

    for label, extra in [("movie", []), ("movie mdat64 moov-first", ["--mdat64", "--moov-first"])]:
        folder = os.path.join(work, label.replace(" ", "_"))
        write_pattern(args.pattern, folder, "mov", *extra)
        movie = os.path.join(folder, "pat.mov")
        pixels = ref.ycbcr_to_pixels(*movie_samples(movie, 1))
        worst = int(np.abs(pixels.astype(int) - dpx.astype(int)).max())
        tally.check(f"{label} pattern within 1 of the DPX pattern",
                    None if worst <= 1 else f"differs by up to {worst}")
        check_sizes(tally, args.tool, f"pattern {label} frame 1", movie, pixels, out, frame=1)
        check_movie_with_ffmpeg(tally, label, movie)


def add_options(parser):
    parser.add_argument("--pattern", default="build/native/tools/zelkora-testpattern")


if __name__ == "__main__":
    sys.exit(ref.interop_main(__doc__, run, add_options, tools=("tool", "pattern")))
