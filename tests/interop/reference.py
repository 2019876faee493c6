"""An independent model of the picture the viewer shows for a file's samples.

Nothing here calls or copies the viewer's code: every table is rebuilt from its formula. Float
work is IEEE double, one operation at a time in the order the formulas give; numpy neither
fuses nor reorders them, so the results are bit-for-bit those of the same expressions in C.
"""

import math

import numpy as np


def _byte(v):
    """v already holds its +0.5: truncate toward zero, clamp to 0..255."""
    return max(0, min(255, int(v)))


def _bt2020_to_linear(x):
    return x / 4.5 if x < 0.08145 else math.pow((x + 0.0993) / 1.0993, 1 / 0.45)


def _hlg_to_sdr(x):
    """HLG signal to scene light, display gamma 1/2 against a reference white of 0.265, and a
    knee that halves the slope above 0.9."""
    a, b = 0.17883277, 0.28466892
    c = 0.5 - a * math.log(0.71533108)  # 0.71533108 = 4a
    e = x * x / 3 if x <= 0.5 else (math.exp((x - c) / a) + b) / 12
    y = math.sqrt(e / 0.265)
    if y > 0.9:
        y = (y - 0.9) * 0.5 + 0.9
    return _byte(y * 255 + 0.5)


# A 10-bit narrow-range code (64 black, 940 white) as an 8-bit full-range one.
NARROW_TO_FULL = np.array([_byte((j * 0.25 - 16) / 219 * 255 + 0.5) for j in range(1024)],
                          dtype=np.uint8)
HLG_TO_SDR = np.array([_hlg_to_sdr(k / 255) for k in range(256)], dtype=np.int64)
LINEAR = np.array([_bt2020_to_linear(i / 255) for i in range(256)])
# Linear light back to a code: the nearest code, the boundary between codes i - 1 and i lying
# where the curve passes (i - 0.5) / 255.
BOUNDARIES = np.array([_bt2020_to_linear((i - 0.5) / 255) for i in range(1, 256)])


def bt2020_to_bt709(rgb):
    """8-bit codes (..., 3) through linear light into BT.709 primaries."""
    r, g, b = (LINEAR[rgb[..., c]] for c in range(3))
    linear = ((1.6605 * r - 0.5876 * g) - 0.0729 * b,
              (1.1328 * g - 0.1244 * r) - 0.0084 * b,
              1.1188 * b - (0.0181 * r + 0.1006 * g))
    return np.stack([np.searchsorted(BOUNDARIES, v, side="right") for v in linear], axis=-1)


def _v210_rgb(s):
    """10-bit narrow-range BT.2020 Y, Cb, Cr with the four-decimal coefficients, in quarter
    steps: truncate toward zero, shift right by 2 (rounding down), clamp."""
    y = (s[..., 0] - 64).astype(np.float64) * 1.1644
    cb, cr = s[..., 1] - 512.0, s[..., 2] - 512.0
    rgb = np.stack([y + 1.6787 * cr, (y - 0.1874 * cb) - 0.6505 * cr, y + 2.1418 * cb], axis=-1)
    return np.clip(np.trunc(rgb).astype(np.int64) >> 2, 0, 255)


# Samples of one pixel to its 8-bit R, G, B, per layout.
TO_RGB = {
    "dpx": lambda s: NARROW_TO_FULL[s >> 6],  # 16-bit samples: the top 10 bits are the code
    "planar": lambda s: NARROW_TO_FULL[(s >> 2) & 0x3FF],  # bits 2..11 of the word
    "mov": _v210_rgb,
}


def shown_rows(height, shift):
    """Rows are counted from the bottom: the bottom row and every 2^shift-th above it are
    shown, top first."""
    return np.arange(height - 1, -1, -(1 << shift))[: height >> shift][::-1]


def picture(layout, samples, shift, hdr_to_sdr=False, bt709=False):
    """The bitmap at display size 1/2^shift, top row first, as uint8 (h, w, 3).

    samples: (height, width, 3) integers, top row first: R, G, B for dpx and planar; Y, Cb, Cr
    with each pixel given the chroma of its pair for mov. Rows are counted from the bottom: the
    bottom row and every 2^shift-th above it are shown. Columns: the first and every 2^shift-th.
    Tone mapping comes before the gamut conversion."""
    height, width = samples.shape[:2]
    rows = np.arange(height - 1, -1, -(1 << shift))[: height >> shift][::-1]
    chosen = samples[rows][:, np.arange(width >> shift) << shift]
    out = np.empty(chosen.shape, dtype=np.uint8)
    for top in range(0, len(rows), 256):  # blocks of rows: no gigabytes of floats at 8K
        rgb = TO_RGB[layout](chosen[top : top + 256].astype(np.int64))
        if hdr_to_sdr:
            rgb = HLG_TO_SDR[rgb]
        out[top : top + 256] = bt2020_to_bt709(rgb) if bt709 else rgb
    return out


def hand_worked_problem():
    """None when the model gives the values worked out by hand, so that it cannot drift into
    agreeing with a wrong viewer."""
    cases = [
        ("range", NARROW_TO_FULL[[63, 64, 66, 210, 502, 512, 794, 938, 939, 1023]],
         [0, 0, 1, 43, 128, 130, 213, 254, 255, 255]),
        ("HLG", HLG_TO_SDR[[1, 32, 64, 128, 160, 191, 192, 200, 201]],
         [1, 36, 72, 144, 189, 242, 243, 254, 255]),
        ("BT.709", bt2020_to_bt709(np.array([[128, 64, 32], [50, 100, 200], [0, 128, 0]])),
         [157, 52, 23, 0, 103, 209, 0, 137, 0]),
        ("HLG, BT.709", bt2020_to_bt709(HLG_TO_SDR[[191, 120, 60]]), [255, 115, 47]),
        ("YCbCr", _v210_rgb(np.array([[940, 512, 960], [502, 512, 512], [64, 512, 0]])),
         [255, 182, 255, 127, 127, 127, 0, 83, 0]),
        ("rows", [*shown_rows(2160, 2)[[0, 1, -1]], *shown_rows(5, 1)], [3, 7, 2159, 2, 4]),
    ]
    wrong = [f"{name} gives {list(np.ravel(got))}" for name, got, want in cases
             if list(np.ravel(got)) != want]
    return "; ".join(wrong) or None


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
