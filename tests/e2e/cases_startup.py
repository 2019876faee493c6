"""Start-up, the command line, the window layout and closing."""

from harness import *  # noqa: F401,F403 - the cases' vocabulary


@case
def no_argument(h):
    """A black 960 x 540 picture above a three-part status bar; Alt+F4 ends with 0."""
    viewer = h.start()
    values = viewer.wait_ready()
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    check_status(values, "", "Frame: 0/0", "Step: 0")
    check_menu(values)
    check_equal(values.get("caption"), "Zelkora", "caption")
    viewer.wait_picture(black(DEFAULT_WIDTH, DEFAULT_HEIGHT), values)
    # The drawn status bar shows that the black above it is the window's, also on a display
    # whose root is black.
    check(viewer.client_image(values)[DEFAULT_HEIGHT + 2].any(), "the status bar is not drawn")
    close_and_check_exit(viewer)


@case
def resized_by_hand(h):
    """A resized window keeps the picture unscaled at the top-left, gray around it, and the
    status bar along the bottom with its parts measured from the new right end."""
    viewer = h.start()
    before = viewer.wait_ready()
    frame_width = int(before["window.right"]) - int(before["window.left"]) - DEFAULT_WIDTH
    frame_height = int(before["window.bottom"]) - int(before["window.top"]) - int(
        before["client.height"])
    for width, height in ((1300, 800), (700, 400)):  # larger and smaller than the picture
        viewer.resize(width + frame_width, height + frame_height)
        values = viewer.wait_info(lambda v: int(v["client.width"]) == width, "the new size")
        check_equal(int(values["client.height"]), height, "client height")
        bar_height = int(values["status.bottom"]) - int(values["status.top"])
        check_equal(int(values["status.top"]), int(values["client.y"]) + height - bar_height,
                    "status bar top (screen)")
        check_equal([int(values[f"status.edge{i}"]) for i in range(3)],
                    [width - 250, width - 110, -1], "status part edges")
        above_bar = height - bar_height
        expected = np.full((above_bar, width, 3), GRAY, dtype=np.uint8)
        expected[:min(above_bar, DEFAULT_HEIGHT), :min(width, DEFAULT_WIDTH)] = 0
        viewer.wait_picture(expected, values)
    close_and_check_exit(viewer)


@case
def missing_file(h):
    """A quoted path to nothing: "Can't open file!", then the empty viewer runs on."""
    path = "C:\\zelkora e2e missing\\shot_0001.dpx"
    # The space makes Wine quote the path on the command line.
    viewer = h.start(path)
    dismiss_error(viewer, CANT_OPEN)
    values = viewer.wait_ready()
    check(values["command_line"].endswith(f' "{path}"'), "the path was not passed in quotes")
    # Both quotes are gone from the name: the leading one skipped, the closing one cut.
    check_status(values, "shot_0001.dpx", "Frame: 0/0", "Step: 0")
    check_layout(values, DEFAULT_WIDTH, DEFAULT_HEIGHT)
    viewer.wait_picture(black(DEFAULT_WIDTH, DEFAULT_HEIGHT), values)
    close_and_check_exit(viewer)


@case
def command_line_too_long(h):
    """A path of 260 characters cannot be held: the same box, no crash, nothing opened."""
    path = "C:\\" + "a" * (PATH_BUFFER_SIZE - 3 - 4) + ".dpx"
    check_equal(len(path), PATH_BUFFER_SIZE, "test path length")
    viewer = h.start(path)
    dismiss_error(viewer, CANT_OPEN)
    values = viewer.wait_ready()
    check(values["command_line"].endswith(" " + path), "the path was not passed whole")
    check_status(values, "", "Frame: 0/0", "Step: 0")
    viewer.wait_picture(black(DEFAULT_WIDTH, DEFAULT_HEIGHT), values)
    close_and_check_exit(viewer)


@case
def command_line_longest(h):
    """259 characters still fit: the path is taken and fails to open like any missing file."""
    name = "a" * (PATH_BUFFER_SIZE - 1 - 3 - 4) + ".dpx"
    path = "C:\\" + name
    check_equal(len(path), PATH_BUFFER_SIZE - 1, "test path length")
    viewer = h.start(path)
    dismiss_error(viewer, CANT_OPEN)
    values = viewer.wait_ready()
    check_status(values, name, "Frame: 0/0", "Step: 0")
    close_and_check_exit(viewer)


# --- running ---
