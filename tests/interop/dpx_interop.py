#!/usr/bin/python3
"""DPX files written by ffmpeg, opened by zelkora-frame, checked pixel for pixel.

ffmpeg writes a 4K and an 8K DPX frame (16-bit RGB) and, from the same source, the raw
samples. The expected bitmap is computed from the raw samples by reference.py alone (sample
>> 6 is a narrow-range code, then the table, the options and the row and column selection);
zelkora-frame must write exactly that picture at every display size, with the colour options
off and on. A folder of frames numbered across 999 -> 1000 checks the playback order.

usage: dpx_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop]
"""

import os
import shutil
import sys

import numpy as np

import reference as ref

SOURCES = [("4k", 3840, 2160), ("8k", 7680, 4320)]
# (label, hdr_to_sdr, bt709)
OPTION_SETS = [("plain", False, False), ("both", True, True)]
SINGLE_OPTIONS = [("hdr", True, False), ("bt709", False, True)]
SINGLE_OPTION_SIZE = 4


def write_ffmpeg_frames(folder, width, height, frames=1, start=1):
    """shot_NNNN.dpx frames and raw.rgb48 (all frames back to back) from one source."""
    os.makedirs(folder, exist_ok=True)
    source = ["-f", "lavfi", "-i", f"testsrc2=size={width}x{height}:rate=25",
              "-frames:v", str(frames), "-pix_fmt", "rgb48be"]
    ref.ffmpeg(*source, "-c:v", "dpx", "-start_number", str(start),
               os.path.join(folder, "shot_%04d.dpx"))
    raw = os.path.join(folder, "raw.rgb48")
    ref.ffmpeg(*source, "-f", "rawvideo", raw)
    samples = np.fromfile(raw, dtype=">u2")
    return samples.reshape(frames, height, width, 3)


def dpx_holds_samples(path, samples):
    """The test's own premise: ffmpeg's DPX carries exactly the raw samples, top row first."""
    with open(path, "rb") as f:
        header = f.read(8)
        if header[:4] != b"SDPX":
            return f"{path} does not start with SDPX"
        offset = int.from_bytes(header[4:8], "big")
        f.seek(offset)
        data = np.frombuffer(f.read(samples.nbytes), dtype=">u2")
    if data.size != samples.size or not np.array_equal(data, samples.reshape(-1)):
        return "image data differ from the raw samples"
    return None


def run_size_cases(tally, tool, work):
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    for label, width, height in SOURCES:
        folder = os.path.join(work, f"dpx{label}")
        samples = write_ffmpeg_frames(folder, width, height)[0]
        dpx = os.path.join(folder, "shot_0001.dpx")
        tally.check(f"{label} ffmpeg DPX holds the raw samples", dpx_holds_samples(dpx, samples))
        pixels = ref.rgb16_to_pixels(samples)
        del samples
        cases = [(size, opts) for size in (1, 2, 4, 8) for opts in OPTION_SETS]
        cases += [(SINGLE_OPTION_SIZE, opts) for opts in SINGLE_OPTIONS]
        for size, (opt_label, hdr, bt709) in cases:
            shift = size.bit_length() - 1
            expected = ref.apply_options(ref.decimate(pixels, shift), hdr_to_sdr=hdr, bt709=bt709)
            name = f"{label} dpx at 1/{size} {opt_label}"
            output = os.path.join(out, f"dpx{label}_{size}_{opt_label}.ppm")
            ref.check_frame(tally, tool, name, dpx, output, expected, size=size,
                            hdr_to_sdr=hdr, bt709=bt709)


def run_order_cases(tally, tool, work):
    """Frames 998..1002: the list runs in frame-number order across the change of digits."""
    folder = os.path.join(work, "order")
    shutil.rmtree(folder, ignore_errors=True)
    width, height = 640, 360
    samples = write_ffmpeg_frames(folder, width, height, frames=5, start=998)
    names = [f"shot_{n:04d}.dpx" for n in range(998, 1003)]

    ref.check_list(tally, tool, "--list gives 998, 999, 1000, 1001, 1002",
                   os.path.join(folder, "shot_1000.dpx"), ["5"] + names)

    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    # The opened file's own frame, and a frame picked by its place in the list.
    for opened, frame, shown in [("shot_1001.dpx", None, 3), ("shot_0998.dpx", 2, 2)]:
        expected = ref.rgb16_to_pixels(samples[shown])
        name = f"open {opened}" + (f" --frame {frame}" if frame is not None else "") + \
            f" shows {names[shown]}"
        ref.check_frame(tally, tool, name, os.path.join(folder, opened),
                        os.path.join(out, "order.ppm"), expected, size=1, frame=frame)


def run(tally, args):
    run_order_cases(tally, args.tool, args.work)
    run_size_cases(tally, args.tool, args.work)


if __name__ == "__main__":
    sys.exit(ref.interop_main(__doc__, run))
