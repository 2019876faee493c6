#!/usr/bin/python3
"""Planar R/G/B frames made from ffmpeg's samples, opened by zelkora-frame, checked pixel for pixel.

ffmpeg writes a 4K and an 8K frame as raw planar 16-bit samples (gbrp16be: the G plane, then B,
then R). The test splits them into clip_0001.4K.r, .g and .b (8K likewise), each word holding
the sample's top 12 bits in its low 12 bits, and puts junk into the top four bits of about half
the words. The expected bitmap is computed by reference.py alone from the clean words (bits 2..11
are a narrow-range code, then the table, the options and the row and column selection);
zelkora-frame must write exactly that picture at every display size, with the colour options
off and on, whichever of the three plane files it is given.

usage: planar_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop]
"""

import os
import shutil
import sys

import numpy as np

import reference as ref

PLANES = "rgb"
# ffmpeg's planar RGB formats store the planes in the order G, B, R.
GBRP_ORDER = (1, 2, 0)
# (label, hdr_to_sdr, bt709)
OPTION_SETS = [("plain", False, False), ("both", True, True)]
SINGLE_OPTIONS = [("hdr", True, False), ("bt709", False, True)]
# (label, width, height, [(size, options), ...]): every size at 4K; at 8K (200 MB of planes) the
# full size once and the 1/4 view that the size handshake leads to.
SOURCES = [
    ("4K", 3840, 2160,
     [(size, opts) for size in (1, 2, 4, 8) for opts in OPTION_SETS]
     + [(4, opts) for opts in SINGLE_OPTIONS]),
    ("8K", 7680, 4320, [(1, OPTION_SETS[0]), (4, OPTION_SETS[0]), (4, OPTION_SETS[1])]),
]


def gbrp16_planes(path, width, height, source):
    """ffmpeg's gbrp16be frame of source as an (R, G, B) array of shape (3, height, width)."""
    ref.ffmpeg("-f", "lavfi", "-i", source, "-frames:v", "1", "-f", "rawvideo",
               "-pix_fmt", "gbrp16be", path)
    gbr = np.fromfile(path, dtype=">u2").reshape(3, height, width)
    return np.stack([gbr[GBRP_ORDER.index(c)] for c in range(3)]).astype(np.uint16)


def plane_order_holds(work):
    """The test's own premise: gbrp16be is G, B, R. From one RGB picture, the packed rgb48be
    samples must equal the planes read in that order."""
    folder = os.path.join(work, "planarorder")
    os.makedirs(folder, exist_ok=True)
    source = "testsrc2=size=64x36,format=rgb24"
    planes = gbrp16_planes(os.path.join(folder, "probe.gbrp16be"), 64, 36, source)
    packed_path = os.path.join(folder, "probe.rgb48be")
    ref.ffmpeg("-f", "lavfi", "-i", source, "-frames:v", "1", "-f", "rawvideo",
               "-pix_fmt", "rgb48be", packed_path)
    packed = np.fromfile(packed_path, dtype=">u2").reshape(36, 64, 3)
    if not np.array_equal(planes, np.moveaxis(packed, -1, 0)):
        return "gbrp16be planes are not G, B, R"
    if not (planes[0].any() and planes[1].any() and planes[2].any()):
        return "a plane is empty: the check proves nothing"
    return None


def write_plane_files(folder, stem, words):
    """stem.r, stem.g and stem.b from words (3, height, width), big-endian."""
    os.makedirs(folder, exist_ok=True)
    for c, letter in enumerate(PLANES):
        words[c].astype(">u2").tofile(os.path.join(folder, f"{stem}.{letter}"))


def junk_top_bits(words, seed):
    """words with a random junk nibble in the top four bits of about half of them."""
    rng = np.random.default_rng(seed)
    nibble = rng.integers(0, 32, size=words.shape, dtype=np.uint16)
    nibble[nibble >= 16] = 0
    return words | (nibble << 12)


def run_size_cases(tally, tool, work):
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    for label, width, height, cases in SOURCES:
        folder = os.path.join(work, f"planar{label}")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        samples = gbrp16_planes(os.path.join(folder, "raw.gbrp16be"), width, height,
                                f"testsrc2=size={width}x{height}")
        os.remove(os.path.join(folder, "raw.gbrp16be"))
        clean = samples >> 4  # the sample's top 12 bits, in the low 12 bits of the word
        del samples
        stem = f"clip_0001.{label}"
        write_plane_files(folder, stem, junk_top_bits(clean, seed=width))
        pixels = np.ascontiguousarray(np.moveaxis(ref.planar12_to_pixels(clean), 0, -1))
        del clean
        for n, (size, (opt_label, hdr, bt709)) in enumerate(cases):
            shift = size.bit_length() - 1
            letter = PLANES[n % 3]  # every plane file serves as the opened one
            expected = ref.apply_options(ref.decimate(pixels, shift), hdr_to_sdr=hdr, bt709=bt709)
            name = f"{label} planar at 1/{size} {opt_label}, opened as .{letter}"
            output = os.path.join(out, f"planar{label}_{size}_{opt_label}.ppm")
            ref.check_frame(tally, tool, name, os.path.join(folder, f"{stem}.{letter}"),
                            output, expected, size=size, hdr_to_sdr=hdr, bt709=bt709)


def run_list_case(tally, tool, work):
    """Opening a G plane lists the G planes of the sequence, and nothing of the other planes."""
    folder = os.path.join(work, "planarlist")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for frame in (7, 8, 9):
        for letter in PLANES:
            open(os.path.join(folder, f"take_{frame:04d}.8K.{letter}"), "wb").close()
    ref.check_list(tally, tool, "--list on a .g plane gives the three .g planes",
                   os.path.join(folder, "take_0008.8K.g"),
                   ["3"] + [f"take_{frame:04d}.8K.g" for frame in (7, 8, 9)], ordered=False)


def run(tally, args):
    tally.check("ffmpeg's gbrp16be planes are G, B, R", plane_order_holds(args.work))
    run_list_case(tally, args.tool, args.work)
    run_size_cases(tally, args.tool, args.work)


if __name__ == "__main__":
    sys.exit(ref.interop_main(__doc__, run))
