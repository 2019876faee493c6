#!/usr/bin/python3
"""v210 movies as ffmpeg and GStreamer's qtmux write them, read by zelkora-frame: --list counts
the picture's frames, each frame is byte for byte what reference.py makes of ffmpeg's samples
of it, and fragmented movies are refused. Run from the repository root."""

import os
import subprocess
import sys

from checks import Tally, fresh_folder
from files_interop import ffmpeg, ffmpeg_samples, first_difference
import reference as ref

TOOL, WORK = "build/native/tools/zelkora-frame", "build/interop/movie_writers"
SOUND = ["-f", "lavfi", "-i", "sine=sample_rate=48000:duration=0.2"]
SOUNDS = "audiotestsrc num-buffers=30 ! audio/x-raw,rate=48000,channels=2 ! mux."
PCM = [*SOUND, "-map", "0:v", "-map", "1:a", "-c:a", "pcm_s16le"]
# name: (writer, width, height, frames, the writer's arguments); 4096: rows of 11008 bytes
MOVIES = {
    "timecode": ("ffmpeg", 1920, 1080, 3, ["-timecode", "01:00:00:00"]),
    "pcm sound": ("ffmpeg", 1920, 1080, 3, PCM),
    "sound track first": ("ffmpeg", 1920, 1080, 3, [*SOUND, "-map", "1:a", "-map", "0:v",
                                                    "-c:a", "pcm_s24le"]),
    "two pictures": ("ffmpeg", 1920, 1080, 3, ["-f", "lavfi", "-i", "smptebars=s=1920x1080:d=1",
                                               "-map", "0:v", "-map", "1:v"]),
    "faststart": ("ffmpeg", 1920, 1080, 3, [*PCM, "-timecode", "01:00:00:00", "-movflags",
                                            "faststart"]),
    "4096 with sound": ("ffmpeg", 4096, 2160, 2, PCM),
    "fragmented": ("ffmpeg", 640, 360, 3, ["-movflags", "frag_keyframe+empty_moov"]),
    "fragmented, moov first": ("ffmpeg", 640, 360, 3, ["-movflags", "frag_keyframe"]),
    "qtmux": ("gst", 640, 360, 4, []),
    "qtmux faststart": ("gst", 640, 360, 4, ["faststart=true"]),
    "qtmux with sound": ("gst", 640, 360, 12, ["", SOUNDS]),  # two video chunks between sound
}


def write(path, writer, width, height, frames, extra):
    if writer == "ffmpeg":  # a source that ends: with sound first, -frames:v never stops
        source = f"testsrc2=s={width}x{height}:r=24:d={frames / 24 + 0.001}"
        ffmpeg("-f", "lavfi", "-i", source, *extra, "-frames:v", str(frames), "-c:v", "v210",
               "-pix_fmt", "yuv422p10le", path)
        return
    # Snow: every frame differs, so a frame read from another's place shows.
    mux, sources = (extra + ["", ""])[:2]  # qtmux's properties, more sources
    pipeline = (f"videotestsrc num-buffers={frames} pattern=snow ! video/x-raw,format=v210,width="
                f"{width},height={height},framerate=24/1 ! mux. qtmux name=mux {mux} ! filesink "
                f"location={path} {sources}")
    subprocess.run(["gst-launch-1.0", "-q", *pipeline.split()], check=True)


def problems(name, path):
    writer, width, height, frames, extra = MOVIES[name]
    write(path, writer, width, height, frames, extra)
    refused = name.startswith("fragmented")
    listed = subprocess.run([TOOL, "--list", path], capture_output=True, text=True).stdout
    if listed.split()[:1] != ["0" if refused else str(frames)]:
        yield f"--list gives {listed.split()[:1]}"
    size, output = 2 if width > 1920 else 1, path + ".ppm"
    for frame in range(1 if refused else frames):
        result = subprocess.run([TOOL, "--size", str(size), "--frame", str(frame), path,
                                 output], capture_output=True, text=True)
        why = f"{os.path.basename(path)}: a fragmented movie (moof) is not read\n"
        if (result.returncode, result.stderr) != ((1, "Error: Invalid image file!\n" + why)
                                                  if refused else (0, "")):
            yield f"frame {frame}: exit {result.returncode}: {result.stderr.strip()}"
        elif not refused:
            got = ref.parse_ppm(open(output, "rb").read(), output)
            samples = ffmpeg_samples(path, "mov", (width, height), frame)
            problem = first_difference(got, ref.picture("mov", samples, size.bit_length() - 1))
            if problem:
                yield f"frame {frame}: {problem}"


def main():
    fresh_folder(WORK)
    tally = Tally()
    for name in MOVIES:
        tally.run(name, problems, name, os.path.join(WORK, name.replace(" ", "_") + ".mov"))
    return tally.end(WORK)

if __name__ == "__main__":
    sys.exit(main())
