#!/usr/bin/python3
"""v210 movies as ffmpeg and GStreamer's qtmux write them, read by zelkora-frame.

Every frame of every movie must equal, byte for byte, the same frame of a plain ffmpeg movie
(one video track) of the same source, and that plain movie the picture reference.py makes of
ffmpeg's own samples; qtmux movies, which have a source of their own, are held to ffmpeg's
reading of them. Fragmented movies must be refused, and --list must count the picture frames.

usage: movie_writers_interop.py [--tool build/native/tools/zelkora-frame] [--work build/interop]
"""

import argparse
import os
import shutil
import subprocess
import sys

from files_interop import ffmpeg, ffmpeg_samples, first_difference
import reference as ref

HD, SMALL, C4K = (1920, 1080), (640, 360), (4096, 2160)  # 4096: rows padded to 11008 bytes
SIZES = {HD: 1, SMALL: 1, C4K: 2}  # the display size each is exported at
SOUND = ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=0.125"]

# name: (writer, (width, height), frames, writer arguments after the picture source)
MOVIES = {
    "plain": ("ffmpeg", HD, 3, ["-map", "0:v"]),
    "timecode": ("ffmpeg", HD, 3, ["-map", "0:v", "-timecode", "01:00:00:00"]),
    "pcm sound": ("ffmpeg", HD, 3, [*SOUND, "-map", "0:v", "-map", "1:a", "-c:a", "pcm_s16le"]),
    "sound track first": ("ffmpeg", HD, 3, [*SOUND, "-map", "1:a", "-map", "0:v",
                                            "-c:a", "pcm_s24le"]),
    "two pictures": ("ffmpeg", HD, 3, ["-f", "lavfi", "-i", "smptebars=size=1920x1080:rate=24",
                                       "-map", "0:v", "-map", "1:v"]),
    "faststart, sound, timecode": ("ffmpeg", HD, 3, [*SOUND, "-map", "0:v", "-map", "1:a",
                                                     "-c:a", "pcm_s16le", "-timecode",
                                                     "01:00:00:00", "-movflags", "+faststart"]),
    "plain 4096": ("ffmpeg", C4K, 2, ["-map", "0:v"]),
    "4096 with sound": ("ffmpeg", C4K, 2, [*SOUND, "-map", "0:v", "-map", "1:a",
                                           "-c:a", "pcm_s16le"]),
    "fragmented": ("ffmpeg", HD, 3, ["-map", "0:v", "-movflags", "frag_keyframe+empty_moov"]),
    "fragmented, a first moov": ("ffmpeg", HD, 3, ["-map", "0:v", "-movflags", "frag_keyframe"]),
    "qtmux": ("gst", SMALL, 4, []),
    "qtmux faststart": ("gst", SMALL, 4, ["faststart=true"]),
    "qtmux with sound": ("gst", SMALL, 12, ["audio"]),  # two video chunks between sound
    "qtmux 4096": ("gst", C4K, 2, []),
}
REFUSED = {"fragmented", "fragmented, a first moov"}


def write(path, writer, size, frames, extra):
    if writer == "ffmpeg":
        # A source that ends: with the sound track mapped first, -frames:v alone never stops.
        picture = ["-f", "lavfi", "-i",
                   f"testsrc2=size={size[0]}x{size[1]}:rate=24:duration={frames / 24 + 0.001}"]
        ffmpeg(*picture, *extra, "-frames:v", str(frames), "-c:v", "v210",
               "-pix_fmt", "yuv422p10le", path)
        return
    # Snow: every frame differs, so a frame read from another's place shows.
    video = (f"videotestsrc num-buffers={frames} pattern=snow ! video/x-raw,format=v210,"
             f"width={size[0]},height={size[1]},framerate=24/1 ! mux.")
    sound = "audiotestsrc num-buffers=30 ! audio/x-raw,rate=48000,channels=2 ! mux."
    options = [e for e in extra if e != "audio"]
    pipeline = f"{video} {sound if 'audio' in extra else ''} qtmux name=mux {' '.join(options)}"
    subprocess.run(["gst-launch-1.0", "-q", *pipeline.split(), "!", "filesink",
                    f"location={path}"], check=True)


def export(args, path, frame, size, output):
    result = subprocess.run([args.tool, "--size", str(size), "--frame", str(frame), path, output],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return None, f"exit {result.returncode}: {result.stderr.strip()}"
    with open(output, "rb") as f:
        return ref.parse_ppm(f.read(), output), None


def check_movie(args, name, folder):
    writer, size, frames, extra = MOVIES[name]
    path = os.path.join(folder, name.replace(" ", "_").replace(",", "") + ".mov")
    write(path, writer, size, frames, extra)
    listed = subprocess.run([args.tool, "--list", path], capture_output=True, text=True).stdout
    want = "0" if name in REFUSED else str(frames)
    if listed.split()[:1] != [want]:
        return [f"{name}: --list gives {listed.split()[:1]}, expected {want}"]
    problems = []
    if name in REFUSED:
        _, problem = export(args, path, 0, 1, os.path.join(folder, "x.ppm"))
        if problem != "exit 1: Invalid image file!":
            problems.append(f"{name}: not refused ({problem})")
        return problems
    shift = SIZES[size].bit_length() - 1
    plain = os.path.join(folder, "plain.mov" if size == HD else "plain_4096.mov")
    for frame in range(frames):
        got, problem = export(args, path, frame, SIZES[size], os.path.join(folder, "got.ppm"))
        if writer == "gst" or name.startswith("plain"):
            want = ref.picture("mov", ffmpeg_samples(path, "mov", size, frame), shift)
        else:
            want, _ = export(args, plain, frame, SIZES[size], os.path.join(folder, "want.ppm"))
        problem = problem or first_difference(got, want)
        if problem:
            problems.append(f"{name} frame {frame}: {problem}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default="build/native/tools/zelkora-frame")
    parser.add_argument("--work", default="build/interop")
    args = parser.parse_args()
    folder = os.path.join(args.work, "movie_writers")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    failed = 0
    for name in MOVIES:  # the plain movies come first: the others are held to them
        try:
            problems = check_movie(args, name, folder)
        except (subprocess.CalledProcessError, ValueError, OSError) as error:
            problems = [f"{name}: {error}"]
        failed += bool(problems)
        print("\n".join(f"FAIL {p}" for p in problems) or f"PASS {name}", flush=True)
    shutil.rmtree(folder)
    print(f"{len(MOVIES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
