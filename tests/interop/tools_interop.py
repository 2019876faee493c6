#!/usr/bin/python3
"""What zelkora-frame and zelkora-testpattern tell their user: a frame file that ends early, a
frame outside the sequence, an option they do not know or that does not apply, the files
written. Each row runs one tool and checks its exit code and the line it must print.

usage: tools_interop.py [--tools build/native/tools] [--work build/interop-tools]
"""

import os
import re
import subprocess
import sys

from checks import Tally, arguments

W, H, OFFSET = 64, 40, 2048
CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
VERSION = re.search(r"project\(zelkora VERSION ([\d.]+)", open(CMAKE).read())[1]
FULL_ROWS = 10  # the short frame holds rows 0..9 of 40 and part of row 10


def dpx(rows_bytes):
    """A 64 x 40 DPX whose header leaves the layout unset (16-bit RGB), image at 2048, cut to
    rows_bytes bytes of image."""
    header = bytearray(OFFSET)
    header[0:8] = b"SDPX" + OFFSET.to_bytes(4, "big")
    header[772:780] = W.to_bytes(4, "big") + H.to_bytes(4, "big")
    return bytes(header) + bytes([0x80]) * rows_bytes


def missing(size):
    """Rows of the picture at 1/size whose file row is not whole: row g from the bottom is shown
    when g is a multiple of size, and is file row H - 1 - g."""
    return sum(1 for g in range(0, H - H % size, size) if H - 1 - g >= FULL_ROWS)


def problems(command, code, line):
    result = subprocess.run(command, capture_output=True, text=True)
    lines = (result.stdout + result.stderr).splitlines()
    printed = any(re.fullmatch(line, got) for got in lines) if line else not result.stderr
    if result.returncode != code or not printed:
        yield f"exit {result.returncode}, printed {lines[:3]}"


def main():
    args = arguments(__doc__, "build/interop-tools", tools="build/native/tools")
    short, whole = (os.path.join(args.work, f"s_000{n}.dpx") for n in (1, 2))
    with open(short, "wb") as out:
        out.write(dpx(W * 6 * FULL_ROWS + 100))
    with open(whole, "wb") as out:
        out.write(dpx(W * 6 * H))
    out = os.path.join(args.work, "out.ppm")
    frame, pattern = (os.path.join(args.tools, t) for t in ("zelkora-frame", "zelkora-testpattern"))
    warning = "zelkora-frame: warning: s_0001.dpx ends early: {} of {} rows missing (black)"
    rows = [  # (command, exit code, a line of its output that must be there, as a regex)
        ([frame, "--size", "1", short, out], 0, re.escape(warning.format(missing(1), H))),
        ([frame, "--size", "4", short, out], 0, re.escape(warning.format(missing(4), H // 4))),
        ([frame, "--size", "1", whole, out], 0, None),  # whole: no warning
        ([frame, "--frame", "2", short, out], 1, r"Error: --frame 2 is out of range: frames 0 to 1"),
        ([frame, "--bogus", short, out], 2, r"zelkora-frame: unknown option --bogus"),
        ([frame, "--version"], 0, re.escape(f"zelkora-frame {VERSION}")),
        ([pattern, "--version"], 0, re.escape(f"zelkora-testpattern {VERSION}")),
        ([frame, short, out, "--frame"], 2, r"zelkora-frame: --frame needs a value"),
        ([pattern, "--format", "planar", args.work, "p"], 0,
         re.escape(os.path.join(args.work, "p_0001.4K.b"))),
        ([pattern, "--format", "dpx", "--moov-first", args.work, "d"], 2,
         r"zelkora-testpattern: --moov-first applies to --format mov only"),
        ([pattern, "--format", "mov", "--bogus", args.work, "m"], 2,
         r"zelkora-testpattern: unknown option --bogus"),
    ]
    tally = Tally()
    for command, code, line in rows:
        tally.run(" ".join(os.path.basename(a) for a in command), problems, command, code, line)
    return tally.end(args.work)

if __name__ == "__main__":
    sys.exit(main())
