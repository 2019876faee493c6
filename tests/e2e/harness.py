"""The e2e harness: start the real viewer under Wine, look into it, read its picture.

Cases live in cases_*.py beside this file and register themselves with @case.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import traceback

import numpy as np

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The interop tests' PPM reader serves the screenshots too.
sys.path.insert(0, os.path.join(REPO, "tests", "interop"))
from reference import parse_ppm  # noqa: E402
SCREEN = "4096x2400x24"
OWN_DISPLAY_MARK = "ZELKORA_E2E_OWN_DISPLAY"
# An unmapped or unpainted window must not pass for a black picture: the root of our own
# display is painted magenta first.
BACKDROP = (255, 0, 255)

# Default bitmap: 3840 x 2160 shown at 1/4.
DEFAULT_WIDTH, DEFAULT_HEIGHT = 960, 540
CANT_OPEN = "Can't open file!"
GRAY = (128, 128, 128)  # the class background, GRAY_BRUSH
PATH_BUFFER_SIZE = 260  # 259 characters and the terminator

WINDOW_TIMEOUT = 30.0  # the first start in a new prefix is slow
STEP_TIMEOUT = 10.0
# One look into the viewer takes well under a second, also while it plays an 8K sequence.
PROBE_TIMEOUT = 30.0

# The native tools that write test files (zelkora-testpattern) and the picture the viewer must
# show for a file (zelkora-frame). A relative ZELKORA_TOOLS_DIR is taken from the current folder.
TOOLS_DIR = os.path.abspath(os.environ.get("ZELKORA_TOOLS_DIR")
                            or os.path.join(REPO, "build", "native", "tools"))
TOOL_TIMEOUT = 300.0  # an 8K movie is 88 MB a frame


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


def wait_for(probe, timeout, what, interval=0.1):
    """Calls probe() until it returns something true; returns that, or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


def unescape(value):
    """The probe writes line breaks and backslashes as \\n, \\r and \\\\."""
    out = []
    chars = iter(value)
    for c in chars:
        if c == "\\":
            c = {"n": "\n", "r": "\r"}.get(next(chars, ""), "\\")
        out.append(c)
    return "".join(out)


def parse_key_values(text):
    values = {}
    for line in text.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key.strip()] = unescape(value.rstrip("\r"))
    return values


def read_image(path):
    """Any image ImageMagick reads (PPM, PNG, ...) -> height x width x 3 uint8 RGB array."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                          capture_output=True).stdout
    return parse_ppm(data)


def write_ppm(path, pixels):
    height, width, _ = pixels.shape
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(np.ascontiguousarray(pixels, dtype=np.uint8).tobytes())


def run_tool(name, *args):
    """Runs a native tool of TOOLS_DIR; fails the case with its message when it fails."""
    path = os.path.join(TOOLS_DIR, name)
    check(os.path.isfile(path), f"missing {path} (set ZELKORA_TOOLS_DIR)")
    result = subprocess.run([path, *args], stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, timeout=TOOL_TIMEOUT)
    check(result.returncode == 0,
          f"{name} {' '.join(args)} ended with {result.returncode}: {result.stderr.strip()}")
    return result.stdout


def windows_path(path):
    """A Linux path as the viewer sees it through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Harness:
    def __init__(self, args):
        self.exe = args.exe
        self.probe_exe = args.probe
        self.prefix = args.prefix
        self.work = args.work
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.case_name = "setup"
        self.viewers = []
        self.samples = {}

    # --- Wine ---

    def prepare_prefix(self, reuse):
        if os.path.exists(self.prefix) and not reuse:
            # Only ever delete what looks like a Wine prefix.
            check(os.path.exists(os.path.join(self.prefix, "system.reg")),
                  f"{self.prefix} exists but is not a Wine prefix; not removing it")
            self.wine_quietly("wineserver", "-k")
            shutil.rmtree(self.prefix)
        os.makedirs(self.work, exist_ok=True)
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            self.wine_quietly("wineboot", "-i", timeout=300)
        # One server for the whole run: the viewer and every probe call meet in it.
        self.wine_quietly("wineserver", "-p")

    def stop_wine(self):
        self.wine_quietly("wineserver", "-k")

    def wine_quietly(self, *command, timeout=60):
        # Never a pipe: the server and the helpers Wine starts live on and would hold it open.
        subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)

    def probe(self, *args, timeout=PROBE_TIMEOUT):
        """Runs zelkora-probe.exe; returns its exit code and its key=value lines."""
        output = os.path.join(self.work, "probe.out")
        with open(output, "w+b") as out:
            try:
                code = subprocess.run(["wine", self.probe_exe, *args], env=self.env,
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.DEVNULL, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                # The probe waits at most a few seconds for any one answer: the viewer hangs.
                raise Failure(f"zelkora-probe {args[0]} got no answer in {timeout:.0f} s")
            out.seek(0)
            text = out.read().decode("latin-1")
        return code, parse_key_values(text)

    def viewer_window_exists(self):
        code, _ = self.probe("info")
        return code == 0

    # --- X display ---

    def screenshot(self):
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              check=True, capture_output=True).stdout
        return parse_ppm(data)

    def x_window(self, name):
        """The visible X window whose title is exactly name."""
        def find():
            result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                     f"^{name}$"], capture_output=True, text=True)
            ids = result.stdout.split()
            return ids[0] if ids else None
        return wait_for(find, STEP_TIMEOUT, f"an X window named {name!r}")

    def press(self, window_name, keys):
        """Focuses the window named window_name and types keys ("Return", "alt+F4", ...).

        There is no window manager: the focus is set directly, and keys go through XTEST
        like a real keyboard's."""
        window = self.x_window(window_name)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True,
                       capture_output=True, timeout=STEP_TIMEOUT)
        subprocess.run(["xdotool", "key", "--clearmodifiers", *keys.split()], check=True,
                       capture_output=True, timeout=STEP_TIMEOUT)

    # --- cases ---

    def start(self, *args):
        check(not self.viewer_window_exists(), "a viewer window is still open from before")
        viewer = Viewer(self, list(args))
        self.viewers.append(viewer)
        return viewer

    def file_in_work(self, name):
        """A path for a generated file of this case in the work folder."""
        folder = os.path.join(self.work, self.case_name)
        os.makedirs(folder, exist_ok=True)
        return os.path.join(folder, name)

    def sample(self, name, make):
        """A folder of generated files that the cases of one run share: make(folder) fills it
        at the first call of the run, later calls find it done. Made anew in each run, so that
        it follows the current tools."""
        if name not in self.samples:
            folder = os.path.join(self.work, "samples", name)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            make(folder)
            self.samples[name] = folder
        return self.samples[name]

    def expected_frame(self, path, *options):
        """The picture the viewer must show for path, as zelkora-frame draws it with options
        ("--frame", "2", "--size", "8", ...): height x width x 3 RGB."""
        output = self.file_in_work("expected.ppm")
        run_tool("zelkora-frame", *options, path, output)
        with open(output, "rb") as data:
            return parse_ppm(data.read())

    def finish_case(self):
        for viewer in self.viewers:
            viewer.kill()
        self.viewers = []
        # The next case must not find this case's window.
        wait_for(lambda: not self.viewer_window_exists(), STEP_TIMEOUT, "the viewer to go")


class Viewer:
    """One run of zelkora.exe."""

    def __init__(self, harness, args):
        self.h = harness
        self.log_path = harness.file_in_work("wine.log")
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen(["wine", harness.exe, *args], env=harness.env,
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)

    def info(self):
        code, values = self.h.probe("info")
        check(code == 0, "the viewer's window is not there")
        return values

    def status(self):
        """The three status texts as status.text0 .. status.text2: the quick look while the
        viewer plays, when info would wait for a decode at each of its many messages."""
        code, values = self.h.probe("status")
        check(code == 0, "the viewer's status bar is not there")
        return values

    def wait_window(self, visible=True):
        args = ["wait", str(int(WINDOW_TIMEOUT * 1000))] + (["visible"] if visible else [])
        code, _ = self.h.probe(*args, timeout=WINDOW_TIMEOUT + 30)
        check(code == 0, "the viewer's window did not appear")

    def wait_info(self, condition, what):
        """Polls the probe's info until condition(values) holds; returns those values."""
        def probe():
            values = self.info()
            return values if condition(values) else None
        return wait_for(probe, STEP_TIMEOUT, what)

    def wait_ready(self):
        """Waits for the shown window's first paint, which fills the status texts."""
        self.wait_window(visible=True)
        return self.wait_info(lambda v: v.get("status.text1", "").startswith("Frame:"),
                              "the first paint")

    def boxes(self, window_needed=True):
        """The viewer's other visible top-level windows: caption, static texts, buttons."""
        code, values = self.h.probe("boxes")
        check(code == 0 or not window_needed, "the viewer's window is not there")
        found = []
        for i in range(int(values.get("boxes", "0"))):
            prefix = f"box{i}."
            box = {"caption": values.get(prefix + "caption", ""), "texts": [], "buttons": [],
                   "button_rects": []}
            for n in range(100):
                if prefix + f"text{n}" in values:
                    box["texts"].append(values[prefix + f"text{n}"])
                if prefix + f"button{n}" in values:
                    box["buttons"].append(values[prefix + f"button{n}"])
                    # Screen rectangle (left, top, right, bottom), or None from an older probe.
                    edges = [values.get(prefix + f"button{n}.{edge}")
                             for edge in ("left", "top", "right", "bottom")]
                    box["button_rects"].append(
                        tuple(int(e) for e in edges) if None not in edges else None)
            found.append(box)
        return found

    def wait_box(self, caption, text):
        def find():
            # The box may come before the main window is shown, but not before it exists.
            for box in self.boxes(window_needed=False):
                if box["caption"] == caption and text in box["texts"]:
                    return box
            return None
        return wait_for(find, WINDOW_TIMEOUT, f"a box {caption!r} saying {text!r}")

    def wait_no_box(self):
        wait_for(lambda: not self.boxes(), STEP_TIMEOUT, "the box to close")

    def client_image(self, values=None):
        """The client area as height x width x 3 RGB, from a screenshot of the X root."""
        values = values or self.info()
        x, y = int(values["client.x"]), int(values["client.y"])
        width, height = int(values["client.width"]), int(values["client.height"])
        return self.h.screenshot()[y:y + height, x:x + width]

    def wait_picture(self, expected, values=None):
        """Waits until the top-left of the client area shows expected (h x w x 3) exactly."""
        values = values or self.info()
        height, width, _ = expected.shape
        last = [None]

        def matches():
            shot = self.client_image(values)[:height, :width]
            last[0] = shot
            return shot.shape == expected.shape and np.array_equal(shot, expected)
        try:
            wait_for(matches, STEP_TIMEOUT, "the picture", interval=0.3)
        except Failure:
            shot = last[0]
            path = self.h.file_in_work("picture.ppm")
            write_ppm(path, shot)
            diff = "sizes differ"
            if shot.shape == expected.shape:
                wrong = np.argwhere(np.any(shot != expected, axis=2))
                yy, xx = wrong[0]
                diff = (f"{len(wrong)} pixels differ, first at ({xx}, {yy}): "
                        f"{tuple(shot[yy, xx])} instead of {tuple(expected[yy, xx])}")
            raise Failure(f"picture differs ({diff}); screenshot in {path}")

    def drop(self, *paths):
        """Drops files (Windows paths) on the main window, as from Explorer."""
        code, values = self.h.probe("drop", *paths)
        check(code == 0, f"drop failed: {values.get('error', 'no window')}")

    def close(self):
        """WM_CLOSE, as the close box sends it."""
        code, _ = self.h.probe("close")
        check(code == 0, "the viewer's window is not there")

    def resize(self, width, height):
        """Gives the main window an outer size of width x height."""
        code, _ = self.h.probe("resize", str(width), str(height))
        check(code == 0, "the window could not be resized")

    def press(self, keys, window_name="Zelkora"):
        self.h.press(window_name, keys)

    def click_button(self, box, text):
        """Clicks the middle of the button labelled text in box (from boxes()) with the left
        mouse button, through XTEST like a real mouse."""
        check(text in box["buttons"], f"no button {text!r} in the box {box['caption']!r}")
        rect = box["button_rects"][box["buttons"].index(text)]
        check(rect is not None, f"the probe gave no rectangle for the button {text!r}")
        left, top, right, bottom = rect
        subprocess.run(["xdotool", "mousemove", "--sync", str((left + right) // 2),
                        str((top + bottom) // 2), "click", "1"], check=True,
                       capture_output=True, timeout=STEP_TIMEOUT)

    def wait_exit(self, timeout=STEP_TIMEOUT):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the viewer did not end")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


# --- checks shared by the cases ---

def check_layout(values, width, height):
    """Picture of width x height at the top-left, the status bar right below it."""
    bar_height = int(values["status.bottom"]) - int(values["status.top"])
    check(bar_height > 0, "the status bar has no height")
    check_equal(int(values["client.width"]), width, "client width")
    check_equal(int(values["client.height"]), height + bar_height,
                "client height (picture and status bar)")
    check_equal(int(values["status.top"]), int(values["client.y"]) + height,
                "status bar top (screen)")
    check_equal(int(values["status.left"]), int(values["client.x"]), "status bar left (screen)")
    bar_width = int(values["status.right"]) - int(values["status.left"])
    check_equal(bar_width, width, "status bar width")
    check_equal(values.get("status.parts"), "3", "status parts")
    edges = [int(values.get(f"status.edge{i}", "0")) for i in range(3)]
    check_equal(edges, [bar_width - 250, bar_width - 110, -1], "status part edges")


def check_status(values, name, frame, step):
    texts = [values.get(f"status.text{i}") for i in range(3)]
    check_equal(texts, [name, frame, step], "status texts")


def check_menu(values, size_item=203, bt709=0, hdr_to_sdr=0):
    for item in (201, 202, 203, 204):
        check_equal(values.get(f"menu.{item}"), "1" if item == size_item else "0",
                    f"check mark of size item {item}")
    check_equal(values.get("menu.103"), str(bt709), "check mark of BT.709")
    check_equal(values.get("menu.104"), str(hdr_to_sdr), "check mark of HDR to SDR")


def black(width, height):
    return np.zeros((height, width, 3), dtype=np.uint8)


def close_and_check_exit(viewer):
    viewer.press("alt+F4")
    check_equal(viewer.wait_exit(), 0, "exit code")


def dismiss_error(viewer, message):
    viewer.wait_box("Error", message)
    viewer.press("Return", window_name="Error")
    viewer.wait_no_box()


# --- cases ---

CASES = []


def case(function):
    CASES.append(function)
    return function


