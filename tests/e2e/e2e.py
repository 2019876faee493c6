#!/usr/bin/python3
"""End-to-end journeys: the real zelkora.exe under Wine on an X display, used as a person would.

    python3 tests/e2e/e2e.py [PART]    # PART: only the journeys whose names hold it

Each journey starts `wine zelkora.exe ARGS`, types keys with xdotool and checks what the user
sees: the client area, the status texts and any message box through zelkora-probe.exe, the
picture from a screenshot of the X root, and the exit code. A picture must equal what the native
zelkora-frame writes for the same file and options. Without DISPLAY the script runs itself again
under xvfb-run on a 4096x2400 screen with a magenta root, so that a window that never painted
cannot pass for a black picture. The Wine prefix build/e2e-wine is made anew for each run; logs
and test files go to build/e2e-work.
"""

import os
import re
import shutil
import subprocess
import sys
import time
import traceback

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXE = os.path.join(REPO, "build", "win32", "zelkora.exe")
PROBE = os.path.join(REPO, "build", "win32", "tests", "zelkora-probe.exe")
TOOLS = os.path.join(REPO, "build", "native", "tools")
PREFIX = os.path.join(REPO, "build", "e2e-wine")
WORK = os.path.join(REPO, "build", "e2e-work")
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
# The machine may be shared with builds: every wait polls, and gives up only after this long.
TIMEOUT = 60.0
# Long enough for keys to reach the viewer, where only their having no effect can be checked.
SETTLE = 1.5
EMPTY = ("", "Frame: 0/0", "Step: 0")
BLACK = (960, 540, bytes(960 * 540 * 3))  # the picture before any frame is loaded
VIEWERS = []


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(get, what):
    deadline = time.monotonic() + TIMEOUT
    while not (result := get()):
        check(time.monotonic() < deadline, f"timed out waiting for {what}")
        time.sleep(0.2)
    return result


def run(*command, checked=True):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, check=checked,
                          timeout=600).stdout


def wine(*command, log=subprocess.DEVNULL, timeout=TIMEOUT):
    """Wine commands never write into a pipe: the helpers Wine starts would hold it open."""
    return subprocess.run(command, env=ENV, stdin=subprocess.DEVNULL, stdout=log,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


def probe(*args):
    with open(os.path.join(WORK, "probe.out"), "w+", errors="replace") as out:
        try:
            code = wine("wine", PROBE, *args, log=out)
        except subprocess.TimeoutExpired:
            raise Failure(f"zelkora-probe {args[0]} got no answer: the viewer hangs")
        out.seek(0)
        return code, out.read().splitlines()


def pixels(ppm):
    """(width, height, pixel bytes) of a binary PPM as ImageMagick and zelkora-frame write it."""
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    return int(header[1]), int(header[2]), ppm[header.end():]


def frame(path, *options):
    """What the viewer must show for path: zelkora-frame's picture with the same options."""
    out = os.path.join(WORK, "expected.ppm")
    run(os.path.join(TOOLS, "zelkora-frame"), *options, path, out)
    with open(out, "rb") as data:
        return pixels(data.read())


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# Made while the Wine prefix is: 8K frames in a folder whose name has a space, so that Wine
# quotes their paths; 4K frames; and, from ffmpeg, a frame of many mid-saturation colours, as
# the colour options leave the test pattern's primaries and greys as they are.
PLATES = os.path.join(WORK, "8k plates")
SHOTS = os.path.join(WORK, "4k shots")
COLOURS = os.path.join(WORK, "colours", "colours_0001.dpx")
# 10-bit frames as most tools write DPX, numbered across 9999, and one written little-endian.
REAL = os.path.join(WORK, "real")
LITTLE = os.path.join(WORK, "little", "little_0001.dpx")
# A movie as editors export one: v210 with PCM sound and a timecode track, interleaved.
MOVIE = os.path.join(WORK, "movie", "take_01.mov")


def start_making_files():
    pattern = [os.path.join(TOOLS, "zelkora-testpattern"), "--format", "dpx", "--size"]
    os.makedirs(os.path.dirname(COLOURS))
    os.makedirs(REAL)
    os.makedirs(os.path.dirname(LITTLE))
    source = ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=3840x2160:rate=24"]
    os.makedirs(os.path.dirname(MOVIE))
    return [subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            for command in (pattern + ["8k", "--frames", "3", PLATES, "plate"],
                            pattern + ["4k", "--frames", "2", SHOTS, "shot"],
                            ["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc2=size=3840x2160", "-frames:v", "1", "-pix_fmt", "rgb48be",
                             "-c:v", "dpx", COLOURS],
                            source + ["-frames:v", "3", "-pix_fmt", "gbrp10be", "-start_number",
                                      "9998", os.path.join(REAL, "real_%d.dpx")],
                            source + ["-frames:v", "1", "-pix_fmt", "gbrp10le", LITTLE],
                            ["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc2=size=1920x1080:rate=24:duration=0.12", "-f", "lavfi",
                             "-i", "sine=sample_rate=48000:duration=0.12", "-c:v", "v210",
                             "-c:a", "pcm_s16le", "-timecode", "01:00:00:00", MOVIE])]


class Viewer:
    """One run of zelkora.exe."""

    def __init__(self, *args):
        self.log = open(os.path.join(WORK, "wine.log"), "ab")
        self.process = subprocess.Popen(["wine", EXE, *args], env=ENV, stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.block = None  # the probe's block in the viewer's memory, made at the first look
        VIEWERS.append(self)

    def look(self):
        """What the viewer shows: client (x, y, width, height) on the screen, the status bar's
        height and texts, and the message boxes as (caption, sorted texts); None without it."""
        code, lines = probe("look", *([self.block] if self.block else []))
        seen = dict(line.split("=", 1) for line in lines if not line.startswith("box="))
        self.block = seen.get("block", self.block)
        if code != 0 or "client" not in seen:
            return None
        boxes = [line[4:].split("|") for line in lines if line.startswith("box=")]
        return {"client": tuple(int(n) for n in seen["client"].split()), "bar": int(seen["bar"]),
                "texts": tuple(seen.get(f"text{i}") for i in range(3)),
                "boxes": [(box[0], sorted(box[1:])) for box in boxes]}

    def wait(self, condition, what):
        """Looks until condition(look) holds, and returns that look."""
        deadline = time.monotonic() + TIMEOUT
        while not ((seen := self.look()) and condition(seen)):
            check(time.monotonic() < deadline, f"timed out waiting for {what}; last look {seen}")
            time.sleep(0.2)
        return seen

    def wait_texts(self, *texts):
        return self.wait(lambda seen: seen["texts"] == texts, f"the status texts {texts}")

    def watch(self, total, frames, looks=4):
        """Looks at the playing viewer until it has shown each of frames, and no other, in at
        least looks looks at the status text "Frame: i/total"."""
        seen = []

        def look():
            text = self.look()["texts"][1]
            if text is not None:  # None: no answer in time
                found = re.fullmatch(rf"Frame: (\d+)/{total}", text)
                check(found, f"frame text {text!r} where one of {total} frames was due")
                seen.append(int(found[1]))
            check(set(seen) <= frames, f"frames {seen} shown where only {frames} were due")
            return set(seen) == frames and len(seen) >= looks
        wait_for(look, f"playback to show frames {frames}")

    def wait_picture(self, expected):
        """Waits for the client area to hold exactly expected above the status bar."""
        width, height, want = expected
        shot = [b""]

        def shows(seen):
            x, y, client_width, client_height = seen["client"]
            if (client_width, client_height - seen["bar"]) != (width, height):
                return False
            shot[0] = pixels(run("import", "-window", "root", "-crop",
                                 f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8",
                                 "ppm:-"))[2]
            return shot[0] == want
        try:
            self.wait(shows, f"a {width}x{height} picture")
        except Failure as failure:
            path = os.path.join(WORK, f"screenshot-{time.monotonic():.0f}.ppm")
            with open(path, "wb") as out:
                out.write(b"P6\n%d %d\n255\n" % (width, height) + shot[0])
            raise Failure(f"{failure}; the last screenshot is {path}")

    def press(self, keys, window="Zelkora"):
        """Types keys ("Right", "alt+s h", ...) into the X window named window through XTEST, as
        a keyboard would. There is no window manager: the focus is set directly."""
        xid = wait_for(lambda: run("xdotool", "search", "--onlyvisible", "--name", f"^{window}$",
                                   checked=False).split(), f"a window named {window!r}")[0]
        run("xdotool", "windowfocus", "--sync", xid)
        run("xdotool", "key", "--clearmodifiers", *keys.split())

    def dismiss(self, message):
        """Waits for the one error box, saying message, and closes it with Enter."""
        self.wait(lambda seen: seen["boxes"] == [("Error", sorted([message, "OK"]))],
                  f"a box saying {message!r}")
        self.press("Return", window="Error")
        self.wait(lambda seen: not seen["boxes"], "the box to close")

    def drop(self, *paths):
        code, _ = probe("drop", self.block, *map(windows_path, paths))
        check(code == 0, "the drop did not reach the viewer")

    def ends(self, keys):
        """Types keys that must end the viewer with exit code 0."""
        self.press(keys)
        try:
            code = self.process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"the viewer did not end after {keys}")
        check(code == 0, f"exit code {code} after {keys}")


# --- journeys ---

def empty_viewer():
    """Without a file: a black 960x540 picture over the status bar; the arrows leave the step at
    0 (the About box asked for after them shows that they were taken); Alt+F4 ends with 0."""
    viewer = Viewer()
    viewer.wait_texts(*EMPTY)
    viewer.wait_picture(BLACK)
    viewer.press("Right Right alt+h a")
    viewer.wait(lambda seen: [box[0] for box in seen["boxes"]] == ["About"], "the About box")
    viewer.wait_texts(*EMPTY)
    viewer.press("Escape", window="About")
    viewer.wait(lambda seen: not seen["boxes"], "the About box to close")
    viewer.ends("alt+F4")


def plates_8k_sizes_arrows_pause_quit():
    """A quoted path to the middle one of three 8K frames opens it at 1/4 with its position;
    each size shows its picture; the step keeps its sign and its bound of 10; past either end
    playback goes to the far end, not on by the remainder; a pause holds the frame the status
    names; Q ends the playing viewer with 0."""
    path = os.path.join(PLATES, "plate_0002.dpx")
    viewer = Viewer(windows_path(path))
    viewer.wait_texts("plate_0002.dpx", "Frame: 1/3", "Step: 0")
    viewer.wait_picture(frame(path))
    for letter, size in (("h", "2"), ("e", "8")):
        viewer.press(f"alt+s {letter}")
        viewer.wait_picture(frame(path, "--size", size))
    viewer.press("Right Right")
    viewer.wait(lambda seen: seen["texts"][1:] == ("Frame: 0/3", "Step: +2"), "playback at +2")
    viewer.watch(3, {0, 2})  # 1 + 2 passes the end: 0, then 2, 0, 2, ...
    viewer.press(" ".join(["Right"] * 9))
    viewer.wait(lambda seen: seen["texts"][1:] == ("Frame: 0/3", "Step: +10"), "a step of +10")
    viewer.watch(3, {0})
    viewer.press(" ".join(["Left"] * 21))
    viewer.wait(lambda seen: seen["texts"][1:] == ("Frame: 2/3", "Step: -10"), "a step of -10")
    viewer.watch(3, {2})
    viewer.press("space")
    viewer.wait_texts("plate_0003.dpx", "Frame: 2/3", "Step: 0")
    viewer.wait_picture(frame(path, "--frame", "2", "--size", "8"))
    viewer.press("Right")
    viewer.wait(lambda seen: seen["texts"][2] == "Step: +1", "a step of +1")
    viewer.ends("q")


def bad_files():
    """An invalid DPX on the command line: "Invalid image file!" in a box captioned "Error",
    then the empty viewer with its name. A frame dropped then opens; a dropped path to nothing
    says "Can't open file!", after which the frame stays and there is nothing to play."""
    folder = os.path.join(WORK, "bad")
    os.makedirs(folder)
    with open(os.path.join(folder, "bad_0001.dpx"), "wb") as out:
        out.write(b"SDPX" + bytes(796) + bytes([100]) + bytes(1247))  # YCbCr 4:2:2: not read
    viewer = Viewer(windows_path(os.path.join(folder, "bad_0001.dpx")))
    viewer.dismiss("Invalid image file!")
    viewer.wait_texts("bad_0001.dpx", "Frame: 0/0", "Step: 0")
    viewer.wait_picture(BLACK)
    good = os.path.join(SHOTS, "shot_0002.dpx")
    viewer.drop(good)
    viewer.wait_texts("shot_0002.dpx", "Frame: 1/2", "Step: 0")
    viewer.wait_picture(frame(good))
    viewer.drop(os.path.join(folder, "missing_0001.dpx"))
    viewer.dismiss("Can't open file!")
    viewer.press("Right")
    time.sleep(SETTLE)
    viewer.wait_texts("missing_0001.dpx", "Frame: 1/0", "Step: 0")
    viewer.wait_picture(frame(good))
    viewer.ends("alt+F4")


def colour_options():
    """Each colour option, alone, on top of the other and at another size, shows what
    zelkora-frame draws with the same options; with both off again the plain picture is back."""
    viewer = Viewer(windows_path(COLOURS))
    viewer.wait_texts("colours_0001.dpx", "Frame: 0/1", "Step: 0")
    shown = frame(COLOURS)
    viewer.wait_picture(shown)
    for keys, options in (("alt+c c", ["--bt709"]), ("alt+c t", ["--bt709", "--hdr-to-sdr"]),
                          ("alt+s e", ["--bt709", "--hdr-to-sdr", "--size", "8"]),
                          ("alt+c c", ["--hdr-to-sdr", "--size", "8"]),
                          ("alt+c t", ["--size", "8"])):
        expected = frame(COLOURS, *options)
        check(expected != shown, f"{options}: the test picture does not change")
        viewer.press(keys)
        viewer.wait_picture(expected)
        shown = expected
    viewer.ends("alt+F4")


def two_sizes_and_a_drop():
    """A 4K and an 8K frame in one sequence: playback brings the window to each frame's size,
    shows it whole and keeps its step. Of two files dropped on the playing viewer the first
    opens, at its size, and the step goes to 0."""
    folder = os.path.join(WORK, "mixed")
    os.makedirs(folder)
    os.symlink(os.path.join(SHOTS, "shot_0001.dpx"), os.path.join(folder, "mixed_0001.dpx"))
    os.symlink(os.path.join(PLATES, "plate_0001.dpx"), os.path.join(folder, "mixed_0002.dpx"))
    first = os.path.join(folder, "mixed_0001.dpx")
    viewer = Viewer(windows_path(first))
    viewer.wait_texts("mixed_0001.dpx", "Frame: 0/2", "Step: 0")
    viewer.wait_picture(frame(first))
    # Of two frames, -2 goes from either one to the last and +2 to the first.
    for keys, step, index in (("Left Left", "-2", 1), ("Right Right Right Right", "+2", 0)):
        viewer.press(keys)
        viewer.wait_texts(f"mixed_000{index + 1}.dpx", f"Frame: {index}/2", f"Step: {step}")
        viewer.wait_picture(frame(first, "--frame", str(index)))
        viewer.watch(2, {index})
    viewer.press("Left")
    viewer.wait(lambda seen: seen["texts"][2] == "Step: +1", "a step of +1")
    viewer.watch(2, {0, 1})
    dropped = os.path.join(PLATES, "plate_0003.dpx")
    viewer.drop(dropped, os.path.join(SHOTS, "shot_0001.dpx"))
    viewer.wait_texts("plate_0003.dpx", "Frame: 2/3", "Step: 0")
    viewer.wait_picture(frame(dropped))
    viewer.ends("alt+F4")


def plates_8k_original_size_play_and_quit():
    """8K frames at Original size, every worker on each one, play through a wrap; Q ends the
    playing viewer, and its workers and readers with it, with 0. (The window is larger than the
    screen, so the pictures at this size are the unit tests' and the frame tool's to check.)"""
    path = os.path.join(PLATES, "plate_0001.dpx")
    viewer = Viewer(windows_path(path))
    viewer.wait_texts("plate_0001.dpx", "Frame: 0/3", "Step: 0")
    viewer.press("alt+s o")
    # Wider than 1/2 shows: the window fits the picture as far as the screen lets it.
    viewer.wait(lambda seen: seen["client"][2] > 3840, "the window at Original size")
    viewer.press("Right")
    viewer.watch(3, {0, 1, 2})
    viewer.ends("q")


def real_dpx_past_9999():
    """Three 10-bit frames from ffmpeg numbered 9998 to 10000 are one sequence, opened from the
    middle one; playback shows each of them and wraps; a pause names the frame it holds. A frame
    written little-endian, dropped, shows the picture of its big-endian twin."""
    path = os.path.join(REAL, "real_9999.dpx")
    viewer = Viewer(windows_path(path))
    viewer.wait_texts("real_9999.dpx", "Frame: 1/3", "Step: 0")
    viewer.wait_picture(frame(path))
    viewer.press("Right")
    viewer.watch(3, {0, 1, 2})
    viewer.press("space")
    seen = viewer.wait(lambda seen: seen["texts"][2] == "Step: 0", "a pause")
    index = int(re.fullmatch(r"Frame: (\d)/3", seen["texts"][1])[1])
    viewer.wait_texts(f"real_{9998 + index}.dpx", f"Frame: {index}/3", "Step: 0")
    viewer.wait_picture(frame(path, "--frame", str(index)))
    twin = frame(path, "--frame", "0")
    check(frame(LITTLE) == twin, "the little-endian frame differs from its big-endian twin")
    viewer.drop(LITTLE)
    viewer.wait_texts("little_0001.dpx", "Frame: 0/1", "Step: 0")
    viewer.wait_picture(twin)
    viewer.ends("q")


def movie_with_sound_and_timecode():
    """A movie with sound and timecode plays through a wrap, each frame as ffmpeg reads it."""
    sys.path.insert(0, os.path.join(REPO, "tests", "interop"))
    from files_interop import ffmpeg_samples
    from reference import picture

    def expected(index):
        samples = ffmpeg_samples(MOVIE, "mov", (1920, 1080), index)
        return 480, 270, picture("mov", samples, 2).tobytes()

    viewer = Viewer(windows_path(MOVIE))
    viewer.wait_texts("take_01.mov", "Frame: 0/3", "Step: 0")
    viewer.wait_picture(expected(0))
    viewer.press("Right")
    viewer.watch(3, {0, 1, 2}, looks=6)
    viewer.press("space")
    seen = viewer.wait(lambda seen: seen["texts"][2] == "Step: 0", "the pause")
    paused = int(re.fullmatch(r"Frame: (\d)/3", seen["texts"][1])[1])
    viewer.wait_picture(expected(paused))
    viewer.ends("alt+F4")


JOURNEYS = [empty_viewer, plates_8k_sizes_arrows_pause_quit, bad_files, colour_options,
            two_sizes_and_a_drop, plates_8k_original_size_play_and_quit, real_dpx_past_9999,
            movie_with_sound_and_timecode]


# --- running ---

def fresh_prefix():
    if os.path.exists(PREFIX):
        check(os.path.exists(os.path.join(PREFIX, "system.reg")),
              f"{PREFIX} is not a Wine prefix; not removing it")
        wine("wineserver", "-k")
        shutil.rmtree(PREFIX)
    wine("wineboot", "-i", timeout=600)
    wine("wineserver", "-p")  # one server for the run: the viewer and each probe meet in it


def main():
    if not os.environ.get("DISPLAY"):
        return subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 4096x2400x24", sys.executable,
                               os.path.abspath(__file__), *sys.argv[1:]],
                              env=dict(os.environ, ZELKORA_E2E_OWN_DISPLAY="1")).returncode
    if os.environ.get("ZELKORA_E2E_OWN_DISPLAY"):
        run("display", "-size", "16x16", "-window", "root", "xc:magenta", checked=False)
    passed = failed = 0
    journeys = [j for j in JOURNEYS if (sys.argv[1:] or [""])[0] in j.__name__]
    try:
        for path in (EXE, PROBE, TOOLS):
            check(os.path.exists(path), f"missing {path}")
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        makers = start_making_files()
        fresh_prefix()
        check(all(maker.wait() == 0 for maker in makers), "the test files could not be made")
    except Exception as error:
        print(f"setup: FAIL ({error})", flush=True)
        journeys, failed = [], 1
    for function in journeys:
        started = time.monotonic()
        try:
            function()
            outcome = "PASS"
        except Failure as failure:
            outcome = f"FAIL ({failure})"
        except Exception:  # a broken journey is a failed one, and the run goes on
            outcome = "FAIL\n" + traceback.format_exc()
        for viewer in VIEWERS:
            if viewer.process.poll() is None:
                viewer.process.kill()
            viewer.process.wait()
            viewer.log.close()
        VIEWERS.clear()
        passed, failed = (passed + 1, failed) if outcome == "PASS" else (passed, failed + 1)
        print(f"{function.__name__}: {outcome} [{time.monotonic() - started:.1f} s]", flush=True)
    wine("wineserver", "-k")
    print(f"{passed} passed, {failed} failed", flush=True)
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
