#!/usr/bin/python3
"""Files written by ffmpeg and by zelkora-testpattern, read by ffmpeg and by zelkora-frame.

Each file named in CASES is written once. For each case ffmpeg reads the frame back into
samples, reference.py turns them into the picture the viewer must show, and zelkora-frame's
export must equal it byte for byte. Files ffmpeg wrote prove our readers against another
writer; the test pattern read by ffmpeg proves our writer against another reader.

usage: files_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop]
                        [--pattern build/native/tools/zelkora-testpattern] [--large]
"""

import argparse
import os
import shutil
import subprocess
import sys

import numpy as np

from checks import ERRORS, Tally, fresh_folder
import reference as ref

K4, K8 = (3840, 2160), (7680, 4320)

# name: (writer, layout, (width, height), frames, the writer's extra arguments)
FILES = {
    "dpx 4k": ("ffmpeg", "dpx", K4, 1, []),  # 16-bit RGB
    "dpx 8k": ("ffmpeg", "dpx", K8, 1, []),
    "planar 4k": ("ffmpeg", "planar", K4, 1, []),  # 12-bit words, one file a plane
    "planar 8k": ("ffmpeg", "planar", K8, 1, []),
    "mov 4k": ("ffmpeg", "mov", K4, 3, []),  # a `wide` atom, the media data, the movie atom
    "mov 4k faststart": ("ffmpeg", "mov", K4, 3, ["-movflags", "+faststart"]),  # movie atom first
    "mov 8k": ("ffmpeg", "mov", K8, 2, []),
    # Over 4 GiB of media data: a 64-bit mdat size, and the last frame starts 4313088000 bytes
    # into it. Takes 4.3 GB of disk for a few minutes, so only with --large.
    "mov over 4 GiB": ("ffmpeg", "mov", K4, 196, []),
    "pattern dpx": ("pattern", "dpx", K4, 1, []),
    "pattern planar": ("pattern", "planar", K4, 1, []),
    "pattern mov": ("pattern", "mov", K4, 2, []),
    "pattern mov mdat64 moov-first": ("pattern", "mov", K4, 2, ["--mdat64", "--moov-first"]),
}

# (file, frame, display size 1/n, colour options: "hdr" tone-maps HLG to SDR, "709" converts
# BT.2020 to BT.709). Planar cases open the .r, .g and .b file in turn.
CASES = [
    ("dpx 4k", 0, 1, ""),  # every row and column in its place, the range table
    ("dpx 4k", 0, 1, "hdr 709"),  # both options, on every pixel
    ("dpx 4k", 0, 4, ""),  # every 4th row counted from the bottom, every 4th column
    ("dpx 4k", 0, 4, "hdr 709"),  # the options on the rows of a reduced picture
    ("dpx 8k", 0, 1, ""),  # 8K rows and offsets
    ("planar 4k", 0, 1, ""),  # the three planes, top bits ignored
    ("planar 4k", 0, 1, "hdr 709"),
    ("planar 4k", 0, 4, ""),
    ("planar 4k", 0, 4, "hdr 709"),
    ("planar 8k", 0, 1, ""),
    ("mov 4k", 1, 1, ""),  # the middle frame: neither the first nor the last
    ("mov 4k", 1, 1, "hdr 709"),
    ("mov 4k", 1, 4, ""),
    ("mov 4k", 1, 4, "hdr 709"),
    ("mov 4k faststart", 2, 4, ""),  # the media data after the movie atom; the last frame
    ("mov 8k", 1, 1, ""),  # 8K rows, frame offsets
    ("mov over 4 GiB", 195, 4, ""),  # --large only
    ("pattern dpx", 0, 8, "hdr"),  # 1/8: the pattern marks the kept rows and columns
    ("pattern dpx", 0, 2, "709"),  # each option alone, in each layout
    ("pattern planar", 0, 8, "709"),
    ("pattern planar", 0, 2, "hdr"),
    ("pattern mov", 1, 8, "hdr"),
    ("pattern mov mdat64 moov-first", 1, 2, "709"),  # a 16-byte mdat header, after the moov
]


def ffmpeg(*args, **kwargs):
    return subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", *args], check=True, **kwargs)


def write(args, folder, writer, layout, size, frames, extra):
    """Writes the file into folder; returns the name to open (for planar, without its letter)."""
    tag = "4K" if size == K4 else "8K"
    if writer == "pattern":
        subprocess.run([args.pattern, "--format", layout, "--size", tag.lower(), "--frames",
                        str(frames), *extra, folder, "f"], check=True, stdout=subprocess.DEVNULL)
        return {"dpx": "f_0001.dpx", "planar": f"f_0001.{tag}.", "mov": "f.mov"}[layout]
    source = ["-f", "lavfi", "-i", f"testsrc2=size={size[0]}x{size[1]}:rate=24", "-frames:v",
              str(frames)]
    if layout == "dpx":
        ffmpeg(*source, "-pix_fmt", "rgb48be", "-c:v", "dpx", *extra, f"{folder}/f_%04d.dpx")
        return "f_0001.dpx"
    if layout == "mov":
        ffmpeg(*source, "-pix_fmt", "yuv422p10le", "-c:v", "v210", *extra, f"{folder}/f.mov")
        return "f.mov"
    outputs = [a for c in "rgb" for a in ("-map", f"[{c}]", "-frames:v", "1", "-f", "rawvideo",
                                          "-pix_fmt", "gray12be", f"{folder}/f_0001.{tag}.{c}")]
    ffmpeg(*source[:4], "-filter_complex", "format=gbrp12be,extractplanes=r+g+b[r][g][b]",
           *outputs)
    # The reader must ignore the top four bits of a word: junk in about half of them.
    rng = np.random.default_rng(size[0])
    for c in "rgb":
        path = f"{folder}/f_0001.{tag}.{c}"
        words = np.fromfile(path, dtype=">u2")
        junk = rng.integers(0, 32, size=words.shape, dtype=np.uint16)
        (words | np.where(junk < 16, junk, 0) << 12).astype(">u2").tofile(path)
    return f"f_0001.{tag}."


def ffmpeg_samples(path, layout, size, frame):
    """ffmpeg's reading of the frame: (height, width, 3) samples as ref.picture takes them."""
    width, height = size

    def raw(inputs, pix_fmt, dtype):
        out = ffmpeg(*inputs, "-vf", f"select=eq(n\\,{frame})", "-frames:v", "1", "-fps_mode",
                     "passthrough", "-f", "rawvideo", "-pix_fmt", pix_fmt, "-",
                     stdout=subprocess.PIPE).stdout
        return np.frombuffer(out, dtype=dtype)

    if layout == "dpx":
        return raw(["-i", path], "rgb48be", ">u2").reshape(height, width, 3)
    if layout == "planar":
        plane = ["-f", "rawvideo", "-pix_fmt", "gray16be", "-video_size", f"{width}x{height}"]
        return np.stack([raw([*plane, "-i", path + c], "gray16be", ">u2").reshape(height, width)
                         for c in "rgb"], axis=-1)
    s = raw(["-i", path], "yuv422p10le", "<u2")
    luma = width * height
    y = s[:luma].reshape(height, width)
    cb, cr = (s[luma + i * luma // 2 : luma + (i + 1) * luma // 2].reshape(height, width // 2)
              for i in (0, 1))
    return np.stack([y, cb.repeat(2, axis=1), cr.repeat(2, axis=1)], axis=-1)


def first_difference(got, expected):
    if got.shape != expected.shape:
        return f"{got.shape[1]}x{got.shape[0]}, expected {expected.shape[1]}x{expected.shape[0]}"
    diff = np.any(got != expected, axis=-1)
    if not diff.any():
        return None
    y, x = np.argwhere(diff)[0]
    return (f"{diff.sum()} pixels differ; first at x={x} y={y} from the top: got "
            f"{tuple(got[y, x])}, expected {tuple(expected[y, x])}")


def marker_problem(picture):
    """The pattern's red square must lie in the top-left corner, as ffmpeg reads the file."""
    red = (picture[..., 0] >= 240) & (picture[..., 1] <= 16) & (picture[..., 2] <= 16)
    h, w = red.shape
    # The red bar lies further right; only the marker reaches into the left quarter.
    if not red[: h // 4, : w // 4].any() or red[:, : w // 4].sum() != red[: h // 4, : w // 4].sum():
        return "the marker's red is not in the top-left corner"
    return None


def options_problem(layout, samples):
    """Each Color option must change every mid-saturation patch of the pattern visibly, and every
    bar of its 75 % row whose colour it can change: not black, nor white under BT.709."""
    plain = ref.picture(layout, samples, 3)
    h, w = plain.shape[:2]
    options = {"HDR to SDR": (ref.picture(layout, samples, 3, True, False), {7}),
               "BT.709": (ref.picture(layout, samples, 3, False, True), {0, 7})}
    wrong = []
    for option, (shown, bars_kept) in options.items():
        for i in range(8):
            x = (2 * i + 1) * w // 16
            for name, y, least in (("75 % bar", h * 13 // 24, 0 if i in bars_kept else 1),
                                   ("patch", h * 5 // 8, 10)):
                moved = np.abs(shown[y, x].astype(int) - plain[y, x]).max()
                if moved < least:
                    wrong.append(f"{option} moves {name} {i} by {moved}")
    return "; ".join(wrong) or None


def export(args, path, output, frame, size, hdr, bt709):
    """zelkora-frame writes its picture of the file to output; None, or what went wrong."""
    options = ["--hdr-to-sdr"] * hdr + ["--bt709"] * bt709
    result = subprocess.run([args.tool, "--size", str(size), "--frame", str(frame), *options,
                             path, output], capture_output=True, text=True)
    return None if result.returncode == 0 else f"exit {result.returncode}: {result.stderr}"


def frame_count_problem(args, movie, frames):
    """zelkora-frame --list and ffprobe must both count the frames the writer wrote."""
    listed = subprocess.run([args.tool, "--list", movie], capture_output=True,
                            text=True).stdout.split()
    probed = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=nb_frames",
                             "-of", "csv=p=0", movie], capture_output=True, text=True).stdout
    if listed == [str(frames), os.path.basename(movie)] and probed.split() == [str(frames)]:
        return None
    return f"--list gives {listed}, ffprobe {probed.split()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default="build/native/tools/zelkora-frame")
    parser.add_argument("--pattern", default="build/native/tools/zelkora-testpattern")
    parser.add_argument("--work", default="build/interop")
    parser.add_argument("--large", action="store_true",
                        help="also the movie of more than 4 GiB (4.3 GB of disk)")
    args = parser.parse_args()
    tally = Tally()
    check = tally.check
    check("the model gives the values worked out by hand", ref.hand_worked_problem())
    out = os.path.join(args.work, "out")
    os.makedirs(out, exist_ok=True)
    current = folder = opened = None
    for n, (name, frame, size, options) in enumerate(CASES):
        writer, layout, dims, frames, extra = FILES[name]
        if name == "mov over 4 GiB" and not args.large:
            continue
        try:
            if name != current:
                if folder is not None:
                    shutil.rmtree(folder)  # done with it, and the next file may be large
                current, opened, samples_frame = name, None, None
                folder = os.path.join(args.work, name.replace(" ", "_"))
                fresh_folder(folder)
                opened = os.path.join(folder, write(args, folder, writer, layout, dims, frames,
                                                    extra))
                if layout == "mov":
                    check(f"{name}: {frames} frames", frame_count_problem(args, opened, frames))
            if opened is None:
                raise ValueError("the file was not written")
            if samples_frame != frame:
                samples = ffmpeg_samples(opened, layout, dims, frame)
                samples_frame = frame
                if writer == "pattern":
                    check(f"{name}: marker top-left",
                          marker_problem(ref.picture(layout, samples, 3)))
                    check(f"{name}: the Color options change the patches",
                          options_problem(layout, samples))
            hdr, bt709 = "hdr" in options, "709" in options
            output = os.path.join(out, f"{n:02d}.ppm")
            problem = export(args, opened + ("rgb"[n % 3] if layout == "planar" else ""),
                             output, frame, size, hdr, bt709)
            if problem is None:
                with open(output, "rb") as f:
                    got = ref.parse_ppm(f.read(), output)
                problem = first_difference(
                    got, ref.picture(layout, samples, size.bit_length() - 1, hdr, bt709))
                if problem is None:
                    os.remove(output)  # a failing export stays for a look
        except ERRORS as error:
            problem = str(error)
        check(f"{name} frame {frame} at 1/{size} {options or 'plain'}", problem)
    return tally.end(folder)


if __name__ == "__main__":
    sys.exit(main())
