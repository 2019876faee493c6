"""An independent model of what the viewer shows, written from the formulas alone.

Nothing here calls or reads the viewer's code: the tables are rebuilt from their definitions,
the gamut conversion is vectorised with numpy (a searchsorted over the decision boundaries
finds the same code as the viewer's bisection), and the row and column selection is spelled
out from the rule "rows counted from the bottom, keep every 2^s-th from the last row".

All float work is IEEE double, element by element, in the order the formulas give: numpy
neither fuses nor reorders these operations, so the results are bit-for-bit those of a C
evaluation of the same expressions.

The interop scripts also share their runner from here: ffmpeg, zelkora-frame's export compared
with the model, --list, the command line and the closing "N passed, N failed" line.

Run this file to check the model against a few hand-worked pixels.
"""

import argparse
import math
import os
import subprocess
import sys

import numpy as np

# ---------------------------------------------------------------------------------------------
# Tables


def _to_byte(v):
    """Truncation toward zero, then clamp to 0..255 (v already has its +0.5)."""
    return max(0, min(255, int(v)))


def _bt2020_decode(x):
    """The BT.2020 curve from a non-linear value to linear light."""
    if x < 0.08145:
        return x / 4.5
    return math.pow((x + 0.0993) / 1.0993, 1 / 0.45)


def _build_tables():
    narrow_to_full = np.array(
        [_to_byte((j * 0.25 - 16) / 219 * 255 + 0.5) for j in range(1024)], dtype=np.int64)
    linear = np.array([_bt2020_decode(i / 255) for i in range(256)], dtype=np.float64)
    decision = np.array([_bt2020_decode((i - 0.5) / 255) for i in range(256)], dtype=np.float64)

    a = 0.17883277
    b = 0.28466892
    c = 0.5 - a * math.log(0.71533108)
    hdr = []
    for k in range(256):
        x = k / 255
        if x <= 0.5:
            e = x * x / 3
        else:
            e = (math.exp((x - c) / a) + b) / 12
        y = math.sqrt(e / 0.265)
        if y > 0.9:
            y = (y - 0.9) * 0.5 + 0.9
        hdr.append(_to_byte(y * 255 + 0.5))
    return narrow_to_full, linear, decision, np.array(hdr, dtype=np.int64)


NarrowToFullTable, LinearTable, DecisionTable, HdrToSdrTable = _build_tables()

# ---------------------------------------------------------------------------------------------
# Colour options


def encode_linear(v):
    """Largest code i in 1..255 with DecisionTable[i] <= v, else 0 (the bisection's answer)."""
    return np.searchsorted(DecisionTable[1:], v, side="right").astype(np.int64)


def bt2020_to_bt709(rgb):
    """rgb: integer array (..., 3) of 8-bit codes; returns the converted codes."""
    r = LinearTable[rgb[..., 0]]
    g = LinearTable[rgb[..., 1]]
    b = LinearTable[rgb[..., 2]]
    r2 = (1.6605 * r - 0.5876 * g) - 0.0729 * b
    g2 = (1.1328 * g - 0.1244 * r) - 0.0084 * b
    b2 = 1.1188 * b - (0.0181 * r + 0.1006 * g)
    return np.stack([encode_linear(r2), encode_linear(g2), encode_linear(b2)], axis=-1)


def apply_options(rgb, hdr_to_sdr=False, bt709=False):
    """The colour options stage: tone mapping first, then the gamut conversion. rgb: integer
    array (..., 3); returns uint8 codes of the same shape. Large pictures go through in slices,
    so an 8K frame never needs gigabytes of float temporaries."""
    rgb = np.asarray(rgb)
    flat = rgb.reshape(-1, 3)
    out = np.empty(flat.shape, dtype=np.uint8)
    block = 1 << 20
    for start in range(0, flat.shape[0], block):
        part = flat[start : start + block].astype(np.int64)
        if hdr_to_sdr:
            part = HdrToSdrTable[part]
        if bt709:
            part = bt2020_to_bt709(part)
        out[start : start + block] = part
    return out.reshape(rgb.shape)


# ---------------------------------------------------------------------------------------------
# Row and column selection


def shown_rows(height, shift):
    """File rows (0 = first row of the file, the top) shown at 1/2^shift, top of the bitmap
    first. Rows are numbered from the bottom (the last file row is 0); a row is shown when its
    number is a multiple of 2^shift and lands in bitmap row number >> shift, counted from the
    bottom. Rows landing beyond the bitmap's height >> shift are dropped."""
    step = 1 << shift
    count = height >> shift
    from_bottom = np.arange(count) * step  # bitmap row k from the bottom shows number k * step
    file_rows = height - 1 - from_bottom
    return file_rows[::-1]


def shown_columns(width, shift):
    """Source columns shown at 1/2^shift, left first: x % 2^shift == 0, landing in x >> shift."""
    return np.arange(width >> shift) << shift


def decimate(image, shift):
    """image: (height, width, ...) top row first -> the bitmap's picture, top row first."""
    return image[shown_rows(image.shape[0], shift)][:, shown_columns(image.shape[1], shift)]


# ---------------------------------------------------------------------------------------------
# Source samples to 8-bit pixels


_NarrowToFullBytes = NarrowToFullTable.astype(np.uint8)


def rgb16_to_pixels(samples):
    """16-bit R, G, B samples (DPX): the top 10 bits are a narrow-range code. -> uint8"""
    return _NarrowToFullBytes[np.asarray(samples, dtype=np.uint16) >> 6]


def planar12_to_pixels(words):
    """Planar words: the low 12 bits hold the sample, of which the upper 10 bits are used."""
    return _NarrowToFullBytes[(np.asarray(words, dtype=np.uint16) >> 2) & 0x3FF]


def unpack_v210(frame_bytes, width, height):
    """One v210 frame -> (Y, Cb, Cr) arrays of shape (height, width), chroma repeated for each
    pixel pair (no interpolation), samples as the 10-bit fields."""
    stride = (2 * width // 3) * 4
    words = np.frombuffer(frame_bytes, dtype="<u4", count=stride * height // 4)
    words = words.reshape(height, stride // 4)[:, : (width + 5) // 6 * 4].astype(np.int64)
    words = words.reshape(height, -1, 4)
    f = [(words[..., w] >> sh) & 0x3FF for w in range(4) for sh in (0, 10, 20)]
    # fields in word order: Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 | Y4 Cr2 Y5
    y = np.stack([f[1], f[3], f[5], f[7], f[9], f[11]], axis=-1).reshape(height, -1)[:, :width]
    cb = np.stack([f[0], f[4], f[8]], axis=-1).reshape(height, -1)
    cr = np.stack([f[2], f[6], f[10]], axis=-1).reshape(height, -1)
    pair = np.arange(width) // 2
    return y, cb[:, pair], cr[:, pair]


def ycbcr_to_pixels(y, cb, cr):
    """10-bit BT.2020 narrow-range YCbCr -> 8-bit RGB with the four-decimal coefficients:
    truncate toward zero, arithmetic shift right by 2, clamp to 0..255."""
    y = np.asarray(y, dtype=np.int64)
    yp = (y - 64).astype(np.float64) * 1.1644
    cbp = np.asarray(cb, dtype=np.float64) - 512.0
    crp = np.asarray(cr, dtype=np.float64) - 512.0
    r = yp + 1.6787 * crp
    g = (yp - 0.1874 * cbp) - 0.6505 * crp
    b = yp + 2.1418 * cbp

    def to_byte(v):
        return np.clip(np.trunc(v).astype(np.int64) >> 2, 0, 255)

    return np.stack([to_byte(r), to_byte(g), to_byte(b)], axis=-1).astype(np.uint8)


# ---------------------------------------------------------------------------------------------
# Images, the tool and the scripts' runner


def read_ppm(path):
    """A binary P6 file with maxval 255 -> uint8 array (height, width, 3), top row first."""
    with open(path, "rb") as f:
        return parse_ppm(f.read(), path)


def parse_ppm(data, name="data"):
    """Binary P6 bytes with maxval 255 -> uint8 array (height, width, 3), top row first."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            while data[pos : pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos : pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{name}: not a binary 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = np.frombuffer(data, dtype=np.uint8, count=width * height * 3, offset=pos + 1)
    return pixels.reshape(height, width, 3)


def compare_images(got, expected):
    """None when equal, else a one-line description of the first difference."""
    if got.shape != expected.shape:
        return (f"size {got.shape[1]}x{got.shape[0]}, "
                f"expected {expected.shape[1]}x{expected.shape[0]}")
    diff = np.any(got != expected, axis=-1)
    if not diff.any():
        return None
    y, x = (int(v) for v in np.argwhere(diff)[0])
    got_pixel = tuple(int(v) for v in got[y, x])
    expected_pixel = tuple(int(v) for v in expected[y, x])
    return (f"{int(diff.sum())} pixels differ; first at x={x} y={y} (from the top): "
            f"got {got_pixel}, expected {expected_pixel}")


def run_frame_tool(tool, input_path, output_path=None, size=4, hdr_to_sdr=False, bt709=False,
                   frame=None, list_frames=False):
    """Runs zelkora-frame; returns the CompletedProcess (text output)."""
    args = [tool, "--size", str(size)]
    if hdr_to_sdr:
        args.append("--hdr-to-sdr")
    if bt709:
        args.append("--bt709")
    if frame is not None:
        args += ["--frame", str(frame)]
    if list_frames:
        args.append("--list")
    args.append(str(input_path))
    if output_path is not None:
        args.append(str(output_path))
    return subprocess.run(args, capture_output=True, text=True)


class Tally:
    """One line per case and the closing count."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, problem):
        if problem is None:
            self.passed += 1
            print(f"PASS {name}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL {name}: {problem}", flush=True)

    def finish(self):
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed else 0


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", *args], check=True)


def mdat_payload_offset(path):
    """A plain top-level atom walk, independent of the viewer's: where the first mdat's payload
    begins, and the length of its header."""
    size_of_file = os.path.getsize(path)
    with open(path, "rb") as f:
        pos = 0
        while pos + 8 <= size_of_file:
            f.seek(pos)
            header = f.read(16)
            size = int.from_bytes(header[0:4], "big")
            head = 8
            if size == 1:
                size = int.from_bytes(header[8:16], "big")
                head = 16
            elif size == 0:
                size = size_of_file - pos
            if header[4:8] == b"mdat":
                return pos + head, head
            if size < head:
                break
            pos += size
    raise ValueError(f"{path}: no mdat")


def check_frame(tally, tool, name, input_path, output_path, expected, **options):
    """zelkora-frame exports input_path, which must show exactly expected. Returns the picture
    it wrote (None when it failed); a matching export is removed again (an 8K one is 100 MB),
    failures stay for a look."""
    result = run_frame_tool(tool, input_path, output_path, **options)
    if result.returncode != 0:
        tally.check(name, f"exit {result.returncode}: {result.stderr.strip()}")
        return None
    picture = read_ppm(output_path)
    problem = compare_images(picture, expected)
    tally.check(name, problem)
    if problem is None:
        os.remove(output_path)
    return picture


def check_list(tally, tool, name, opened, want, ordered=True):
    """--list on opened must print want: the frame count, then the file names, in that order
    unless not ordered."""
    result = run_frame_tool(tool, opened, list_frames=True)
    got = result.stdout.split()
    same = got == want if ordered else got[:1] == want[:1] and sorted(got[1:]) == sorted(want[1:])
    tally.check(name, None if result.returncode == 0 and same
                else f"exit {result.returncode}, listed {got}, expected {want}")


def interop_main(doc, run, add_options=None, tools=("tool",)):
    """The command line of an interop script: --tool and --work, and whatever add_options(parser)
    adds. Every option named in tools must be an executable. run(tally, args) checks the cases;
    the closing line counts them. Returns the exit status."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--tool", "--frame-tool", dest="tool",
                        default="build/native/tools/zelkora-frame")
    parser.add_argument("--work", default="build/interop")
    if add_options is not None:
        add_options(parser)
    args = parser.parse_args()
    for tool in (getattr(args, name) for name in tools):
        if not os.access(tool, os.X_OK):
            print(f"no such tool: {tool}", file=sys.stderr)
            return 2
    tally = Tally()
    run(tally, args)
    return tally.finish()


# ---------------------------------------------------------------------------------------------
# Self-check against hand-worked values


def self_check():
    t = Tally()

    def expect(name, got, want):
        got = [int(v) for v in np.ravel(got)]
        t.check(name, None if got == list(want) else f"got {got}, expected {list(want)}")

    expect("NarrowToFull", NarrowToFullTable[[0, 63, 64, 65, 66, 67, 210, 502, 512, 794, 938,
                                              939, 940, 1023]],
           [0, 0, 0, 0, 1, 1, 43, 128, 130, 213, 254, 255, 255, 255])
    expect("HdrToSdr", HdrToSdrTable[[0, 1, 32, 64, 128, 160, 191, 192, 200, 201, 255]],
           [0, 1, 36, 72, 144, 189, 242, 243, 254, 255, 255])
    t.check("HdrToSdr never decreases",
            None if np.all(np.diff(HdrToSdrTable) >= 0) else "it decreases")
    expect("BT.709 (128,64,32)", bt2020_to_bt709(np.array([128, 64, 32])), [157, 52, 23])
    expect("BT.709 (128,120,110)", bt2020_to_bt709(np.array([128, 120, 110])), [134, 119, 109])
    expect("BT.709 (50,100,200)", bt2020_to_bt709(np.array([50, 100, 200])), [0, 103, 209])
    expect("BT.709 (0,128,0)", bt2020_to_bt709(np.array([0, 128, 0])), [0, 137, 0])
    kept = np.array([[i, i, i] for i in range(256)]
                    + [[255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 0]])
    t.check("BT.709 keeps greys and the primaries",
            None if np.array_equal(bt2020_to_bt709(kept), kept) else "one of them moved")
    expect("HDR only (191,120,60)", apply_options([191, 120, 60], hdr_to_sdr=True), [242, 135, 67])
    expect("both (191,120,60)", apply_options([191, 120, 60], hdr_to_sdr=True, bt709=True),
           [255, 115, 47])

    def bisect(v):
        e, step = 128, 64
        while step >= 1:
            e = e - step if DecisionTable[e] > v else e + step
            step //= 2
        return e - 1 if DecisionTable[e] > v else e

    # Every boundary, its two neighbouring doubles, and values spread over and beyond 0..1.
    probes = np.concatenate([DecisionTable, np.nextafter(DecisionTable, -np.inf),
                             np.nextafter(DecisionTable, np.inf), np.linspace(-0.1, 1.1, 4001)])
    mismatches = [v for v in probes if bisect(v) != int(encode_linear(v))]
    t.check("searchsorted agrees with the bisection",
            None if not mismatches else f"{len(mismatches)} values, first {mismatches[0]!r}")
    expect("encode below the first boundary", encode_linear(np.array([-1.0, 0.0])), [0, 0])
    expect("encode at the last boundary", encode_linear(DecisionTable[[255]]), [255])
    expect("v210 black, white, grey",
           ycbcr_to_pixels([64, 940, 502, 1023], [512] * 4, [512] * 4),
           [0, 0, 0, 255, 255, 255, 127, 127, 127, 255, 255, 255])
    expect("v210 red-ish", ycbcr_to_pixels([940], [512], [960]), [255, 182, 255])
    expect("v210 negative red", ycbcr_to_pixels([64], [512], [0])[..., 0], [0])
    expect("rows at 1/4 of 2160", shown_rows(2160, 2)[[0, 1, -1]], [3, 7, 2159])
    expect("rows at 1/8 of 2160", [len(shown_rows(2160, 3)), shown_rows(2160, 3)[0]], [270, 7])
    expect("columns at 1/8 of 3840", shown_columns(3840, 3)[[0, 1, -1]], [0, 8, 3832])
    expect("rows at 1/2 of an odd height 5", shown_rows(5, 1), [2, 4])
    # One v210 group of six pixels: Y 100..105, Cb 200 201 202, Cr 300 301 302.
    words = [200 | 100 << 10 | 300 << 20, 101 | 201 << 10 | 102 << 20,
             301 | 103 << 10 | 202 << 20, 104 | 302 << 10 | 105 << 20]
    y, cb, cr = unpack_v210(np.array(words, dtype="<u4").tobytes(), 6, 1)
    expect("v210 unpack", np.concatenate([y[0], cb[0], cr[0]]),
           [100, 101, 102, 103, 104, 105, 200, 200, 201, 201, 202, 202,
            300, 300, 301, 301, 302, 302])
    return t.finish()


if __name__ == "__main__":
    sys.exit(self_check())
