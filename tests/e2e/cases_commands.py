"""Menu commands, the open dialog, dropped files, arrow-key playback and the About box.

The sequences come from zelkora-testpattern, made once per run: twelve 4K DPX frames, each
carrying its number in large digits, so that a wrong frame cannot pass, and one 8K frame for
an open that has to grow the window; the colour options are seen on a frame of ffmpeg's
testsrc2. What the viewer must show is what zelkora-frame draws for the same file and options.
The tools are taken from build/native/tools, or from the folder named by ZELKORA_TOOLS_DIR.
The sample folders' names hold a space, so Wine passes the path in quotes.

Menus are worked from the keyboard (Alt and the underlined letters), as a user without a mouse
would; the About box's OK button is clicked with the mouse.
"""

import os
import re
import subprocess
import time

import numpy as np

from harness import *  # noqa: F401,F403 - the cases' vocabulary

FRAMES = 12
WIDTH_4K, HEIGHT_4K = 3840, 2160
# 7680 x 4320 shown at 1/4.
WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN = 1920, 1080
# Long enough for several ticks of a running timer (16 ms, plus a decode).
SETTLE = 0.7

ABOUT_TEXTS = ["Zelkora V2.1", None, "Keyboard operation", "[->]: Move forward",
               "[<-]: Move backward", "[Q]: Quit", "Other keys: Pause"]  # None: the credits


def shots(h):
    return h.sample("commands 4k", lambda folder: run_tool(
        "zelkora-testpattern", "--format", "dpx", "--size", "4k", "--frames", str(FRAMES),
        folder, "shot"))


def big(h):
    """A one-frame 8K sequence: big_0001.dpx."""
    folder = h.sample("commands 8k", lambda folder: run_tool(
        "zelkora-testpattern", "--format", "dpx", "--size", "8k", "--frames", "1", folder,
        "big"))
    return os.path.join(folder, "big_0001.dpx")


def colours(h):
    """One 4K frame of many mid-saturation colours, from ffmpeg's testsrc2: the test pattern's
    bars are primaries, secondaries and greys, which the BT.709 conversion leaves unchanged."""
    folder = h.sample("commands colours", lambda folder: subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         f"testsrc2=size={WIDTH_4K}x{HEIGHT_4K}:rate=25", "-frames:v", "1", "-pix_fmt",
         "rgb48be", "-c:v", "dpx", os.path.join(folder, "colours_0001.dpx")],
        stdin=subprocess.DEVNULL, check=True, capture_output=True, timeout=TOOL_TIMEOUT))
    return os.path.join(folder, "colours_0001.dpx")


def mixed(h):
    """A two-frame sequence whose frames differ in size: mixed_0001.dpx is a 4K frame,
    mixed_0002.dpx an 8K one (links to the other samples' files)."""
    def make(folder):
        os.symlink(shot(h, 0), os.path.join(folder, "mixed_0001.dpx"))
        os.symlink(big(h), os.path.join(folder, "mixed_0002.dpx"))
    return os.path.join(h.sample("commands mixed", make), "mixed_0001.dpx")


def shot(h, index):
    """The file of frame index (from 0) of the 4K sequence; the frames play in number order."""
    return os.path.join(shots(h), f"shot_{index + 1:04d}.dpx")


def expected(h, index, size=4, *options):
    """What the viewer shows for frame index of the 4K sequence at 1/size."""
    return h.expected_frame(shot(h, 0), "--frame", str(index), "--size", str(size), *options)


def frame_position(values):
    """(current frame index, frame count) from the status text "Frame: i/n"."""
    found = re.fullmatch(r"Frame: (-?\d+)/(\d+)", values.get("status.text1", ""))
    check(found is not None, f"no frame position in {values.get('status.text1')!r}")
    return int(found.group(1)), int(found.group(2))


def start_on(h, index):
    """The viewer started on frame index of the 4K sequence, its first paint done."""
    viewer = h.start(windows_path(shot(h, index)))
    values = viewer.wait_ready()
    check_status(values, f"shot_{index + 1:04d}.dpx", f"Frame: {index}/{FRAMES}", "Step: 0")
    return viewer, values


def wait_step(viewer, text):
    """Waits for the step text; the status texts alone, as the viewer may be playing."""
    wait_for(lambda: viewer.status().get("status.text2") == text, STEP_TIMEOUT, repr(text))


def wait_frames_go_by(viewer, count=3, settled=None, total=FRAMES):
    """Waits until the status has shown count different frames; returns them. With settled,
    waits instead for count looks in a row that all fall among the same settled frames (a
    cycle that playback has reached)."""
    seen = []

    def went_by(values):
        index, frames = frame_position(values)
        check_equal(frames, total, "frame count during playback")
        check(0 <= index < total, f"frame index {index} out of the sequence")
        seen.append(index)
        if settled is None:
            return len(set(seen)) >= count
        return len(seen) >= count and len(set(seen[-count:])) == settled
    # The status texts alone: a full info waits for a decode at each of its many messages.
    wait_for(lambda: went_by(viewer.status()), STEP_TIMEOUT, f"{count} frames to go by")
    return set(seen[-count:]) if settled else set(seen)


def check_frame_stays(viewer):
    """Two looks a while apart see the same frame; returns the info of the second look."""
    index = frame_position(viewer.info())[0]
    time.sleep(SETTLE)
    values = viewer.info()
    check_equal(frame_position(values)[0], index, "frame index after a while")
    return values


def pause(h, viewer):
    """Space pauses; the picture is then the frame the status names, and stays."""
    viewer.press("space")
    wait_step(viewer, "Step: 0")
    values = check_frame_stays(viewer)
    index = frame_position(values)[0]
    check_equal(values.get("status.text0"), f"shot_{index + 1:04d}.dpx", "file name")
    viewer.wait_picture(expected(h, index), values)
    return index


def choose(viewer, menu, item):
    """Menu command from the keyboard: Alt and the menu's letter, then the item's letter."""
    viewer.press(f"alt+{menu} {item}")


def open_about(viewer):
    choose(viewer, "h", "a")
    box = viewer.wait_box("About", "Zelkora V2.1")
    texts = box["texts"]
    check_equal(len(texts), len(ABOUT_TEXTS), f"number of texts in the About box {texts!r}")
    for text, wanted in zip(texts, ABOUT_TEXTS):
        check(text == wanted or (wanted is None and text), f"About box texts {texts!r}")
    check_equal(box["buttons"], ["OK"], "About box buttons")
    return box


def wait_caption_box(viewer, caption):
    def find():
        return next((b for b in viewer.boxes() if b["caption"] == caption), None)
    return wait_for(find, WINDOW_TIMEOUT, f"a window captioned {caption!r}")


# --- cases ---

@case
def arrow_keys_play_and_pause(h):
    """Right plays forward, Left steps back through 0 to reverse, the step is bounded to
    -10..+10 and shown with its sign; space pauses on a frame that is then on screen; Q ends
    the process with 0 while it plays."""
    viewer, _ = start_on(h, 2)
    viewer.press("Right")
    wait_step(viewer, "Step: +1")
    wait_frames_go_by(viewer)
    pause(h, viewer)
    viewer.press("Right Left")  # back to 0: stopped again, the frame stays
    wait_step(viewer, "Step: 0")
    check_frame_stays(viewer)

    viewer.press("Right Right")
    wait_step(viewer, "Step: +2")
    viewer.press("Left Left Left")  # +1, 0 and on into reverse
    wait_step(viewer, "Step: -1")
    wait_frames_go_by(viewer)
    viewer.press(" ".join(["Right"] * 12))  # -1 + 12 would be +11: the bound holds at +10
    wait_step(viewer, "Step: +10")
    viewer.press(" ".join(["Left"] * 21))  # +10 - 21 would be -11
    wait_step(viewer, "Step: -10")
    # Past the start the next frame is the last one, not the remainder: of 12 frames a step
    # of -10 soon shows only frames 11 and 1 in turn.
    check_equal(wait_frames_go_by(viewer, 4, settled=2), {1, 11}, "frames shown at -10")
    pause(h, viewer)

    viewer.press("Right")
    wait_step(viewer, "Step: +1")
    viewer.press("q")
    check_equal(viewer.wait_exit(), 0, "exit code after Q")


@case
def keys_with_nothing_open(h):
    """Without a sequence the arrows leave the step at 0; a colour option only moves its check
    mark; Q still quits with 0."""
    viewer = h.start()
    viewer.wait_ready()
    viewer.press("Right Right Left")
    time.sleep(SETTLE)
    values = viewer.info()
    check_status(values, "", "Frame: 0/0", "Step: 0")
    choose(viewer, "c", "c")
    values = viewer.wait_info(lambda v: v.get("menu.103") == "1", "the BT.709 check mark")
    check_menu(values, bt709=1)
    check_status(values, "", "Frame: 0/0", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    viewer.wait_picture(black(DEFAULT_WIDTH, DEFAULT_HEIGHT), values)
    viewer.press("q")
    check_equal(viewer.wait_exit(), 0, "exit code after Q")


@case
def exit_from_file_menu(h):
    """File > Exit (Alt+F, X) closes the window and ends the process with 0."""
    viewer, _ = start_on(h, 0)
    choose(viewer, "f", "x")
    check_equal(viewer.wait_exit(), 0, "exit code after File > Exit")


@case
def display_sizes(h):
    """Each size of the Size menu gives its bitmap, window and picture, with the check mark
    moved to it; the original size of a 4K frame fits the screen. Choosing the checked size
    again still rebuilds: a playing sequence stops stepping and holds its frame."""
    viewer, _ = start_on(h, 5)
    for letter, item, divisor in (("o", 201, 1), ("h", 202, 2), ("e", 204, 8), ("q", 203, 4)):
        choose(viewer, "s", letter)
        values = viewer.wait_info(
            lambda v: v.get(f"menu.{item}") == "1" and v.get("client.width") == str(
                WIDTH_4K // divisor), f"size 1/{divisor}")
        check_menu(values, size_item=item)
        check_layout(values, WIDTH_4K // divisor, HEIGHT_4K // divisor)
        check_status(values, "shot_0006.dpx", f"Frame: 5/{FRAMES}", "Step: 0")
        viewer.wait_picture(expected(h, 5, divisor), values)

    viewer.press("Right")
    wait_step(viewer, "Step: +1")
    wait_frames_go_by(viewer)
    choose(viewer, "s", "q")  # the size already checked
    wait_step(viewer, "Step: 0")
    values = viewer.info()
    check_menu(values, size_item=203)
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    # The timer still runs and reloads the same frame at every tick.
    values = check_frame_stays(viewer)
    index = frame_position(values)[0]
    viewer.wait_picture(expected(h, index), values)
    viewer.press("Right")  # the step comes back from 0
    wait_step(viewer, "Step: +1")
    wait_frames_go_by(viewer, 2)
    pause(h, viewer)
    close_and_check_exit(viewer)


@case
def colour_options(h):
    """Each colour option shows its pixels at once, also on top of the other; switching both
    off again restores the original picture. The check marks follow the options."""
    path = colours(h)
    viewer = h.start(windows_path(path))
    values = viewer.wait_ready()
    check_status(values, "colours_0001.dpx", "Frame: 0/1", "Step: 0")
    plain = h.expected_frame(path)
    viewer.wait_picture(plain, values)
    steps = (  # letter, BT.709 flag and HDR-to-SDR flag afterwards
        ("c", 1, 0),
        ("t", 1, 1),
        ("c", 0, 1),
        ("t", 0, 0),
    )
    pictures = {}
    for letter, bt709, hdr_to_sdr in steps:
        choose(viewer, "c", letter)
        values = viewer.wait_info(
            lambda v: (v.get("menu.103"), v.get("menu.104")) == (str(bt709), str(hdr_to_sdr)),
            "the colour check marks")
        check_menu(values, bt709=bt709, hdr_to_sdr=hdr_to_sdr)
        options = (["--bt709"] if bt709 else []) + (["--hdr-to-sdr"] if hdr_to_sdr else [])
        picture = h.expected_frame(path, *options)
        pictures[(bt709, hdr_to_sdr)] = picture
        viewer.wait_picture(picture, values)
    # Four different pictures, or the checks above would prove nothing.
    check(not any(np.array_equal(a, b) for i, a in enumerate(pictures.values())
                  for b in list(pictures.values())[i + 1:]), "the options change no pixel")
    check(np.array_equal(pictures[(0, 0)], plain), "the picture with both options off")
    close_and_check_exit(viewer)


@case
def about_box(h):
    """Help > About shows its texts and closes with Enter, Esc and a click on OK; each time the
    picture under it is whole again."""
    viewer, values = start_on(h, 3)
    picture = expected(h, 3)
    viewer.wait_picture(picture, values)
    for how in ("Return", "Escape", "click"):
        box = open_about(viewer)
        if how == "click":
            viewer.click_button(box, "OK")
        else:
            viewer.press(how, window_name="About")
        viewer.wait_no_box()
        values = viewer.info()
        check_status(values, "shot_0004.dpx", f"Frame: 3/{FRAMES}", "Step: 0")
        viewer.wait_picture(picture, values)
    close_and_check_exit(viewer)


@case
def playback_goes_on_behind_about_box(h):
    """The About box is modal, yet the frames go on advancing behind it."""
    viewer, _ = start_on(h, 0)
    viewer.press("Right")
    wait_step(viewer, "Step: +1")
    open_about(viewer)
    wait_frames_go_by(viewer, 3)
    check(viewer.boxes(), "the About box went away")
    viewer.press("Escape", window_name="About")
    viewer.wait_no_box()
    wait_step(viewer, "Step: +1")  # keys in the box did not reach playback
    pause(h, viewer)
    close_and_check_exit(viewer)


@case
def open_dialog(h):
    """File > Open with a path typed into the dialog opens that sequence, here an 8K frame
    that grows the window; a cancelled dialog changes nothing, not even a running step."""
    viewer, _ = start_on(h, 0)
    path = big(h)
    choose(viewer, "f", "o")
    wait_caption_box(viewer, "Open")
    # The file name field has the focus and holds the current file's name.
    viewer.press("End shift+Home BackSpace", window_name="Open")
    subprocess.run(["xdotool", "type", "--delay", "5", windows_path(path)], check=True,
                   capture_output=True, timeout=STEP_TIMEOUT)
    viewer.press("Return", window_name="Open")
    viewer.wait_no_box()
    values = viewer.wait_info(lambda v: v.get("status.text0") == "big_0001.dpx", "the open")
    check_status(values, "big_0001.dpx", "Frame: 0/1", "Step: 0")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    big_picture = h.expected_frame(path)
    viewer.wait_picture(big_picture, values)

    viewer.press("Right")  # one frame plays on itself
    wait_step(viewer, "Step: +1")
    choose(viewer, "f", "o")
    wait_caption_box(viewer, "Open")
    viewer.press("Escape", window_name="Open")
    viewer.wait_no_box()
    time.sleep(SETTLE)
    values = viewer.info()
    check_status(values, "big_0001.dpx", "Frame: 0/1", "Step: +1")
    check_layout(values, WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)
    viewer.wait_picture(big_picture, values)
    close_and_check_exit(viewer)


@case
def drop_three_files(h):
    """Of three files dropped on a playing viewer the first opens; the step goes to 0 and the
    opened frame holds while the timer goes on."""
    viewer, _ = start_on(h, 0)
    viewer.press("Right")
    wait_step(viewer, "Step: +1")
    wait_frames_go_by(viewer)
    viewer.drop(windows_path(shot(h, 7)), windows_path(shot(h, 9)), windows_path(big(h)))
    values = viewer.wait_info(lambda v: v.get("status.text2") == "Step: 0", "the drop")
    values = check_frame_stays(viewer)
    check_status(values, "shot_0008.dpx", f"Frame: 7/{FRAMES}", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    viewer.wait_picture(expected(h, 7), values)
    close_and_check_exit(viewer)


def longest_name(h):
    """A copy of frame 1 whose full Windows path is exactly 259 characters, the most the path
    buffer holds."""
    def make(folder):
        room = PATH_BUFFER_SIZE - 1 - len(windows_path(folder)) - 1
        os.symlink(shot(h, 0), os.path.join(folder, "l" * (room - 9) + "_0001.dpx"))
    folder = h.sample("commands longest", make)
    return os.path.join(folder, os.listdir(folder)[0])


@case
def drop_of_a_name_too_long_is_refused(h):
    """A dropped name longer than the path buffer holds is refused with the open error. Cut to
    fit, this one would name another file that exists: the refusal must come first. The
    sequence is emptied as after any failed open."""
    longest = windows_path(longest_name(h))
    check_equal(len(longest), PATH_BUFFER_SIZE - 1, "length of the longest path")
    viewer, _ = start_on(h, 2)
    viewer.drop(longest + "9.dpx")
    dismiss_error(viewer, CANT_OPEN)
    values = viewer.wait_info(lambda v: v.get("status.text1") == "Frame: 2/0", "the refusal")
    check_status(values, "shot_0003.dpx", "Frame: 2/0", "Step: 0")
    viewer.wait_picture(expected(h, 2), values)
    viewer.drop(longest)  # the name itself fits, and opens
    values = viewer.wait_info(lambda v: v.get("status.text1") == "Frame: 0/1", "the open")
    viewer.wait_picture(expected(h, 0), values)
    close_and_check_exit(viewer)


@case
def frames_of_two_sizes_keep_playing(h):
    """A sequence whose frames differ in size plays on: each frame of the other size brings
    the bitmap and the window to it at once and is shown whole, and the step stays.

    With two frames, a step of -2 wraps from either frame to the last one and +2 to the first
    one, so playback settles on one frame while it goes on loading it at every tick."""
    path = mixed(h)
    viewer = h.start(windows_path(path))
    values = viewer.wait_ready()
    check_status(values, "mixed_0001.dpx", "Frame: 0/2", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    for keys, step, index, shown in (
            ("Left Left", "Step: -2", 1, (WIDTH_8K_SHOWN, HEIGHT_8K_SHOWN)),  # grows
            ("Right Right Right Right", "Step: +2", 0, (DEFAULT_WIDTH, DEFAULT_HEIGHT)),
    ):
        viewer.press(keys)
        values = viewer.wait_info(
            lambda v: v.get("status.text2") == step and v.get("status.text1") == (
                f"Frame: {index}/2") and v.get("client.width") == str(shown[0]),
            f"playback to settle on frame {index}")
        values = check_frame_stays(viewer)
        check_status(values, f"mixed_{index + 1:04d}.dpx", f"Frame: {index}/2", step)
        check_layout(values, *shown)
        viewer.wait_picture(h.expected_frame(path, "--frame", str(index)), values)
    # Back to +1: both sizes go by in turn and the step stays.
    viewer.press("Left")
    wait_step(viewer, "Step: +1")
    wait_frames_go_by(viewer, 2, total=2)
    check_equal(viewer.info().get("status.text2"), "Step: +1", "step after both sizes")
    close_and_check_exit(viewer)
