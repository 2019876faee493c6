#!/usr/bin/python3
"""QuickTime v210 movies written by ffmpeg, opened by zelkora-frame, checked pixel for pixel.

ffmpeg writes 4K and 8K movies of three v210 frames, in its usual layout (media data before
the movie atom) and as a streaming movie (-movflags +faststart: the movie atom first), and,
from the same source, the raw yuv422p10le samples. v210 and yuv422p10le carry the same 10-bit
samples, except that v210 reserves the codes 0-3 and 1020-1023 (timing words in SDI) and
ffmpeg's encoder clips to 4..1019: the raw planes so clipped are the truth. The expected
bitmap is computed from them by reference.py alone (the four-decimal BT.2020 conversion, the
colour options, the row and column selection), never from the movie's bytes. zelkora-frame
must write exactly that picture for every frame asked for, at every display size, with the
colour options off and on.

With --large, a 4K movie of more than 4 GiB (ffmpeg then gives its media data a 64-bit size)
is checked too: its last frame starts beyond 4 GiB. It needs 4.3 GB of disk for a few minutes.

usage: mov_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop] [--large]
"""

import os
import sys

import numpy as np

import reference as ref

FRAMES = 3
# (label, hdr_to_sdr, bt709)
OPTION_SETS = [("plain", False, False), ("both", True, True)]
ALL_SIZES = (1, 2, 4, 8)
# (label, extra ffmpeg arguments)
LAYOUTS = [("mdat first", []), ("faststart", ["-movflags", "+faststart"])]

# (source label, width, height, layout label, frames, sizes). Every frame and size of the 4K
# movie; fewer of the 8K one, whose full-size exports are 100 MB each.
CASES = [
    ("4k", 3840, 2160, "mdat first", (0, 1, 2), ALL_SIZES),
    ("4k", 3840, 2160, "faststart", (0, 1, 2), (1, 4)),
    ("8k", 7680, 4320, "mdat first", (2,), ALL_SIZES),
    ("8k", 7680, 4320, "mdat first", (0,), (8,)),
    ("8k", 7680, 4320, "faststart", (2,), (4,)),
]

LARGE_WIDTH, LARGE_HEIGHT = 3840, 2160
LARGE_FRAMES = 196  # the last frame starts 4313088000 bytes into the media data


def source_args(width, height, frames):
    return ["-f", "lavfi", "-i", f"testsrc2=size={width}x{height}:rate=24",
            "-frames:v", str(frames), "-pix_fmt", "yuv422p10le"]


def write_movie(path, width, height, frames, extra):
    ref.ffmpeg(*source_args(width, height, frames), "-c:v", "v210", *extra, path)


def write_raw(path, width, height, frames):
    ref.ffmpeg(*source_args(width, height, frames), "-f", "rawvideo", path)


# The codes a v210 sample can hold: the lowest four and the highest four are reserved.
V210_LOWEST, V210_HIGHEST = 4, 1019


def raw_planes(path, width, height, frame):
    """Frame `frame` of a yuv422p10le file: Y (h, w), Cb and Cr (h, w / 2), 10-bit values as
    written, reserved codes included."""
    luma = width * height
    chroma = luma // 2
    samples = np.memmap(path, dtype="<u2", mode="r", offset=frame * (luma + 2 * chroma) * 2,
                        shape=(luma + 2 * chroma,))
    y = samples[:luma].reshape(height, width)
    cb = samples[luma : luma + chroma].reshape(height, width // 2)
    cr = samples[luma + chroma :].reshape(height, width // 2)
    return y, cb, cr


def v210_codes(samples):
    """What a v210 encoder keeps of 10-bit samples: the reserved codes clipped away."""
    return np.clip(np.asarray(samples, dtype=np.int64), V210_LOWEST, V210_HIGHEST)


def expected_picture(planes, shift, hdr_to_sdr, bt709):
    """The bitmap's picture, top row first, from the raw planes: rows and columns picked first
    (the conversion works pixel by pixel), each column with the chroma of its pixel pair."""
    y, cb, cr = (v210_codes(p) for p in planes)
    rows = ref.shown_rows(y.shape[0], shift)
    columns = ref.shown_columns(y.shape[1], shift)
    pixels = np.empty((len(rows), len(columns), 3), dtype=np.uint8)
    block = 256  # rows at a time: an 8K frame never needs gigabytes of float temporaries
    for start in range(0, len(rows), block):
        part = rows[start : start + block]
        pixels[start : start + block] = ref.ycbcr_to_pixels(
            y[part][:, columns], cb[part][:, columns // 2], cr[part][:, columns // 2])
    return ref.apply_options(pixels, hdr_to_sdr=hdr_to_sdr, bt709=bt709)


def movie_holds_samples(path, planes, width, frame):
    """The test's own premise: the movie's frame carries exactly the raw samples (reserved codes
    clipped), top row first, back to back from the start of the media data."""
    height = planes[0].shape[0]
    frame_bytes = (2 * width // 3) * 4 * height
    with open(path, "rb") as f:
        f.seek(ref.mdat_payload_offset(path)[0] + frame * frame_bytes)
        data = f.read(frame_bytes)
    if len(data) != frame_bytes:
        return f"the media data end {frame_bytes - len(data)} bytes early"
    y, cb, cr = ref.unpack_v210(data, width, height)
    if not np.array_equal(y, v210_codes(planes[0])):
        return "luma differs from the raw samples"
    if not (np.array_equal(cb[:, ::2], v210_codes(planes[1]))
            and np.array_equal(cr[:, ::2], v210_codes(planes[2]))):
        return "chroma differs from the raw samples"
    return None


def reserved_codes(planes):
    """How many raw samples a v210 encoder has to clip."""
    return sum(int(np.count_nonzero((p < V210_LOWEST) | (p > V210_HIGHEST))) for p in planes)


def check_list(tally, tool, name, movie, count):
    """A movie is one file in the list and its sample count is the frame count."""
    ref.check_list(tally, tool, name, movie, [str(count), os.path.basename(movie)])


def run_movie_cases(tally, tool, work):
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    sources = {}
    for label, width, height, layout, frames, sizes in CASES:
        folder = os.path.join(work, f"mov{label}")
        if label not in sources:
            os.makedirs(folder, exist_ok=True)
            raw = os.path.join(folder, "raw.yuv")
            write_raw(raw, width, height, FRAMES)
            movies = {}
            for layout_label, extra in LAYOUTS:
                movie = os.path.join(folder, f"{layout_label.replace(' ', '_')}.mov")
                write_movie(movie, width, height, FRAMES, extra)
                check_list(tally, tool, f"{label} {layout_label}: --list gives {FRAMES} frames",
                           movie, FRAMES)
                movies[layout_label] = movie
            sources[label] = (raw, movies, set())
        raw, movies, premises = sources[label]
        movie = movies[layout]
        for frame in frames:
            planes = raw_planes(raw, width, height, frame)
            if (layout, frame) not in premises:
                premises.add((layout, frame))
                clipped = reserved_codes(planes)
                tally.check(f"{label} {layout}: ffmpeg's frame {frame} holds the raw samples "
                            f"({clipped} reserved codes clipped)",
                            movie_holds_samples(movie, planes, width, frame))
            for size in sizes:
                shift = size.bit_length() - 1
                for opt_label, hdr, bt709 in OPTION_SETS:
                    expected = expected_picture(planes, shift, hdr, bt709)
                    name = f"{label} {layout} frame {frame} at 1/{size} {opt_label}"
                    output = os.path.join(out, f"mov{label}_{layout.replace(' ', '_')}"
                                               f"_f{frame}_{size}_{opt_label}.ppm")
                    ref.check_frame(tally, tool, name, movie, output, expected, size=size,
                                    hdr_to_sdr=hdr, bt709=bt709, frame=frame)
            del planes

    # A frame past the last sample of a streaming movie lies past the end of the file: the
    # reader shows black for every row the file does not hold.
    movies = sources["4k"][1]
    black = np.zeros((2160 >> 2, 3840 >> 2, 3), dtype=np.uint8)
    ref.check_frame(tally, tool, f"4k faststart frame {FRAMES} (past the end) is black",
                    movies["faststart"], os.path.join(out, "mov_past_end.ppm"), black, size=4,
                    frame=FRAMES)


def run_large_case(tally, tool, work):
    """More than 4 GiB of media data: a 64-bit mdat size, frames beyond 4 GiB."""
    folder = os.path.join(work, "movlarge")
    os.makedirs(folder, exist_ok=True)
    movie = os.path.join(folder, "large.mov")
    raw = os.path.join(folder, "raw.yuv")
    try:
        write_movie(movie, LARGE_WIDTH, LARGE_HEIGHT, LARGE_FRAMES, [])
        last = LARGE_FRAMES - 1
        # Only the two frames checked, from the same source: select picks them by number, and
        # the output stops after the second.
        pick = f"select='eq(n\\,0)+eq(n\\,{last})'"
        ref.ffmpeg(*source_args(LARGE_WIDTH, LARGE_HEIGHT, 2), "-vf", pick,
                   "-fps_mode", "passthrough", "-f", "rawvideo", raw)
        offset, head = ref.mdat_payload_offset(movie)
        tally.check("large: ffmpeg gives its mdat a 64-bit size",
                    None if head == 16 else f"{head}-byte mdat header")
        check_list(tally, tool, f"large: --list gives {LARGE_FRAMES} frames", movie,
                   LARGE_FRAMES)
        frame_bytes = (2 * LARGE_WIDTH // 3) * 4 * LARGE_HEIGHT
        tally.check("large: the last frame starts beyond 4 GiB",
                    None if offset + last * frame_bytes > 1 << 32 else "it does not")
        out = os.path.join(work, "out")
        os.makedirs(out, exist_ok=True)
        for index, frame in enumerate((0, last)):
            planes = raw_planes(raw, LARGE_WIDTH, LARGE_HEIGHT, index)
            tally.check(f"large: ffmpeg's frame {frame} holds the raw samples",
                        movie_holds_samples(movie, planes, LARGE_WIDTH, frame))
            ref.check_frame(tally, tool, f"large frame {frame} at 1/4", movie,
                            os.path.join(out, "mov_large.ppm"),
                            expected_picture(planes, 2, False, False), size=4, frame=frame)
    finally:
        for path in (movie, raw):
            if os.path.exists(path):
                os.remove(path)


def run(tally, args):
    run_movie_cases(tally, args.tool, args.work)
    if args.large:
        run_large_case(tally, args.tool, args.work)


def add_options(parser):
    parser.add_argument("--large", action="store_true",
                        help="also check a movie of more than 4 GiB (4.3 GB of disk)")


if __name__ == "__main__":
    sys.exit(ref.interop_main(__doc__, run, add_options))
