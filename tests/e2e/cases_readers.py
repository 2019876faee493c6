"""The three frame readers in the running viewer: DPX, planar R/G/B and QuickTime v210.

The files come from zelkora-testpattern, generated once per run; what the viewer must show for
each of them is what zelkora-frame draws, which the interop tests check against ffmpeg. Every
frame of a test sequence carries its number in large digits, so a wrong frame cannot pass.
"""

import os
import re
import struct

from harness import *  # noqa: F401,F403 - the cases' vocabulary

FRAMES_4K = 6
FRAMES_PLANAR_8K = 3
FRAMES_MOV_8K = 2
# 7680 x 4320 shown at 1/4.
WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN = 1920, 1080
# While an 8K frame is decoded on every tick, each message to the viewer waits for a decode,
# which takes long on a busy machine.
PLAYBACK_TIMEOUT = 30.0
# A pause lands on any frame; on frame 0 it proves nothing about the picture changing.
PAUSE_TRIES = 8


def pattern(folder, layout, size, frames, name):
    run_tool("zelkora-testpattern", "--format", layout, "--size", size, "--frames", str(frames),
             folder, name)


# The folder name has a space, so that Wine quotes the path it passes on.
def dpx_4k(h):
    return h.sample("seq 4k", lambda f: pattern(f, "dpx", "4k", FRAMES_4K, "clip"))


def dpx_8k(h):
    return h.sample("dpx 8k", lambda f: pattern(f, "dpx", "8k", 1, "plate"))


def planar_8k(h):
    return h.sample("planar 8k", lambda f: pattern(f, "planar", "8k", FRAMES_PLANAR_8K, "plate"))


def mov_4k(h):
    return h.sample("mov 4k", lambda f: pattern(f, "mov", "4k", FRAMES_4K, "clip"))


def mov_8k(h):
    return h.sample("mov 8k", lambda f: pattern(f, "mov", "8k", FRAMES_MOV_8K, "plate"))


def frame_position(values):
    """(current frame index, frame count) from the status text "Frame: i/n"."""
    found = re.fullmatch(r"Frame: (-?\d+)/(\d+)", values.get("status.text1", ""))
    check(found is not None, f"no frame position in {values.get('status.text1')!r}")
    return int(found.group(1)), int(found.group(2))


def open_from_command_line(h, path):
    viewer = h.start(windows_path(path))
    values = viewer.wait_ready()
    check(windows_path(path) in values["command_line"], "the path is not on the command line")
    return viewer, values


def play_then_pause(viewer, count):
    """Right arrow starts playback at a step of +1; once the status has shown the frame change,
    space pauses. Returns the viewer's info at the pause, which is never on frame 0, so that
    the picture has to change from the first one."""
    for _ in range(PAUSE_TRIES):
        viewer.press("Right")
        wait_for(lambda: viewer.status().get("status.text2") == "Step: +1", PLAYBACK_TIMEOUT,
                 "a step of +1")
        seen = set()

        def went_by():
            index, total = frame_position(viewer.status())
            check_equal(total, count, "frame count during playback")
            check(0 <= index < count, f"frame index {index} out of the sequence")
            seen.add(index)
            return len(seen) >= 2
        wait_for(went_by, PLAYBACK_TIMEOUT, "playback to go through the frames")
        viewer.press("space")
        wait_for(lambda: viewer.status().get("status.text2") == "Step: 0", PLAYBACK_TIMEOUT,
                 "the pause")
        values = viewer.info()
        if frame_position(values)[0] != 0:
            return values
    raise Failure("playback paused on frame 0 every time")


# --- DPX ---

@case
def reader_dpx_quoted_path_opens_its_frame(h):
    """A quoted path to frame 3 of a 4K DPX sequence: that frame at 1/4, its position in the
    sequence, and the window left at its default size."""
    path = os.path.join(dpx_4k(h), "clip_0003.dpx")
    viewer, values = open_from_command_line(h, path)
    check(values["command_line"].endswith(f' "{windows_path(path)}"'),
          "the path was not passed in quotes")
    # The frames stand in the order of the directory search, which is name order under Wine.
    check_status(values, "clip_0003.dpx", f"Frame: 2/{FRAMES_4K}", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    viewer.wait_picture(h.expected_frame(path), values)
    close_and_check_exit(viewer)


@case
def reader_dpx_8k_grows_the_window(h):
    """An 8K DPX file on the command line: a 1920 x 1080 bitmap, the window grown to hold it
    above the status bar, and the frame decoded at that size."""
    path = os.path.join(dpx_8k(h), "plate_0001.dpx")
    viewer, values = open_from_command_line(h, path)
    check_status(values, "plate_0001.dpx", "Frame: 0/1", "Step: 0")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    viewer.wait_picture(h.expected_frame(path), values)
    close_and_check_exit(viewer)


# --- planar R/G/B ---

@case
def reader_planar_8k_opens_and_plays(h):
    """The G plane of an 8K planar frame: the window grows and the picture is the one of all
    three planes; the status names the B plane, the last one read. Right arrow plays through
    the sequence, space pauses on a frame that is shown whole."""
    folder = planar_8k(h)
    path = os.path.join(folder, "plate_0001.8K.g")
    viewer, values = open_from_command_line(h, path)
    check_status(values, "plate_0001.8K.b", f"Frame: 0/{FRAMES_PLANAR_8K}", "Step: 0")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    first = h.expected_frame(path)
    viewer.wait_picture(first, values)

    values = play_then_pause(viewer, FRAMES_PLANAR_8K)
    index, _ = frame_position(values)
    # Wine's directory search lists a folder in name order: frame index k is file number k + 1.
    shown = f"plate_{index + 1:04d}.8K"
    check_equal(values.get("status.text0"), shown + ".b", "file name at the pause")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    expected = h.expected_frame(os.path.join(folder, shown + ".g"))
    check(not np.array_equal(expected, first), f"frame {index} of the test planes looks like 0")
    viewer.wait_picture(expected, values)
    close_and_check_exit(viewer)


# --- QuickTime v210 ---

@case
def reader_mov_4k_opens_and_steps(h):
    """A 4K movie opens at its first frame; Right arrow steps through the frames inside it, and
    the frame shown at the pause is that frame of the movie."""
    path = os.path.join(mov_4k(h), "clip.mov")
    viewer, values = open_from_command_line(h, path)
    check_status(values, "clip.mov", f"Frame: 0/{FRAMES_4K}", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    first = h.expected_frame(path, "--frame", "0")
    viewer.wait_picture(first, values)

    values = play_then_pause(viewer, FRAMES_4K)
    index, _ = frame_position(values)
    check_equal(values.get("status.text0"), "clip.mov", "file name at the pause")
    expected = h.expected_frame(path, "--frame", str(index))
    check(not np.array_equal(expected, first), f"frame {index} of the test movie looks like 0")
    viewer.wait_picture(expected, values)
    close_and_check_exit(viewer)


@case
def reader_mov_8k_grows_the_window(h):
    """An 8K movie: the window grows to a 1920 x 1080 picture showing frame 0."""
    path = os.path.join(mov_8k(h), "plate.mov")
    viewer, values = open_from_command_line(h, path)
    check_status(values, "plate.mov", f"Frame: 0/{FRAMES_MOV_8K}", "Step: 0")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    viewer.wait_picture(h.expected_frame(path, "--frame", "0"), values)
    close_and_check_exit(viewer)


# --- a file no reader takes ---

def write_little_endian_dpx(path):
    """The header of a DPX file written in little-endian order: the magic reads "XPDS"."""
    header = bytearray(2048)
    header[0:4] = b"XPDS"
    struct.pack_into("<I", header, 4, len(header))  # offset to image data
    struct.pack_into("<II", header, 772, 3840, 2160)  # pixels per line, lines
    with open(path, "wb") as out:
        out.write(header)


@case
def reader_invalid_dpx_reports_and_runs_on(h):
    """A DPX file whose magic reads "XPDS": "Invalid image file!" in a box captioned "Error";
    after Enter the empty viewer runs on."""
    path = h.file_in_work("bad_0001.dpx")
    write_little_endian_dpx(path)
    viewer = h.start(windows_path(path))
    dismiss_error(viewer, "Invalid image file!")
    values = viewer.wait_ready()
    # The scan found the file, so its name stands in the status bar; the failed load left an
    # empty sequence.
    check_status(values, "bad_0001.dpx", "Frame: 0/0", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    viewer.wait_picture(black(DEFAULT_WIDTH, DEFAULT_HEIGHT), values)
    close_and_check_exit(viewer)
