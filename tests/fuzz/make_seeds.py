#!/usr/bin/env python3
"""Writes the starting inputs of the fuzz targets: small well-formed files of every layout in
each target's input format (see the comment at the top of each fuzz_*.cpp), a few near misses,
and, when the test-pattern tool is at hand, the headers of real 4K files it wrote.

usage: make_seeds.py OUTDIR [--testpattern PATH]
Writes OUTDIR/dpx, OUTDIR/planes, OUTDIR/mov and OUTDIR/sequence.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


# --- DPX: "SDPX", offset to image data, size at 772, rows of 16-bit R, G, B samples.
def dpx(width, height, offset=2048, magic=b"SDPX", rows=None):
    header = bytearray(max(offset, 780))
    header[0:4] = magic
    header[4:8] = be32(offset)
    header[772:776] = be32(width)
    header[776:780] = be32(height)
    if rows is None:
        rows = height
    data = bytearray()
    for row in range(rows):
        for column in range(width):
            for c in range(3):
                level = (64 + 8 * row + 4 * column + 100 * c) % 1024
                data += be16(level << 6 | 0x15)
    return bytes(header[:max(offset, 780)]) + bytes(data)


# --- Planar: headerless 16-bit big-endian words, the code in bits 2-11.
def plane(width, height, c):
    return b"".join(be16(((64 + 16 * c + x + y) % 1024) << 2 | 0xF000 * (x & 1))
                    for y in range(height) for x in range(width))


def planes_input(control, size_chars, width, height, r, g, b):
    return (bytes([control]) + size_chars + be16(width) + be16(height) + be16(len(r)) +
            be16(len(g)) + r + g + b)


# --- QuickTime atoms.
def atom(kind, payload=b""):
    return be32(8 + len(payload)) + kind + payload


def atom64(kind, payload=b""):
    return be32(1) + kind + be32((16 + len(payload)) >> 32) + be32(16 + len(payload)) + payload


def stsz(sample_size, count):
    return atom(b"stsz", be32(0) + be32(sample_size) + be32(count))


def moov(sample_size, count):
    stbl = atom(b"stbl", atom(b"stsd", bytes(24)) + stsz(sample_size, count) +
                atom(b"stco", bytes(8)))
    minf = atom(b"minf", atom(b"vmhd", bytes(12)) + stbl)
    mdia = atom(b"mdia", atom(b"mdhd", bytes(24)) + atom(b"hdlr", bytes(25)) + minf)
    trak = atom(b"trak", atom(b"tkhd", bytes(84)) + mdia)
    return atom(b"moov", atom(b"mvhd", bytes(100)) + trak)


def v210_frames(count, frame_bytes=2048):
    # Grey-ish words with every field in range; frame k a little brighter than k - 1.
    out = bytearray()
    for k in range(count):
        y = 200 + 50 * k
        word = (512 | y << 10 | 512 << 20)
        out += struct.pack("<I", word) * (frame_bytes // 4)
    return bytes(out)


FTYP = atom(b"ftyp", b"qt  " + be32(0x200) + b"qt  ")
WIDE = atom(b"wide")
SMALL = 2048  # the 48 x 16 frame that fuzzing builds accept


def mov_input(frame, movie, control=0):
    return bytes([control]) + struct.pack(">i", frame) + movie


# --- Sequence: control, opened name, then (name, 16-bit length, contents) per file.
def sequence_input(control, opened, files):
    out = bytes([control]) + opened + b"\0"
    for name, contents in files:
        out += name + b"\0" + be16(len(contents)) + contents
    return out


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def from_testpattern(tool, out):
    """Heads of real 4K files: the real header layout with the first rows of the picture."""
    with tempfile.TemporaryDirectory() as work:
        runs = [["--format", "dpx"], ["--format", "planar"], ["--format", "mov", "--moov-first"],
                ["--format", "mov", "--moov-first", "--mdat64"]]
        for i, args in enumerate(runs):
            folder = os.path.join(work, str(i))
            if subprocess.run([tool] + args + [folder, "tp"], capture_output=True).returncode:
                print("make_seeds: the test-pattern tool failed; hand-built seeds only",
                      file=sys.stderr)
                return
        with open(os.path.join(work, "0", "tp_0001.dpx"), "rb") as f:
            head = f.read(8192 + 3840 * 6 * 2)
        write(out + "/dpx", "testpattern-4k-head", bytes([0x03]) + head)
        write(out + "/dpx", "testpattern-4k-head-shift0", bytes([0x00]) + head)
        heads = []
        for c in "rgb":
            with open(os.path.join(work, "1", "tp_0001.4K." + c), "rb") as f:
                heads.append(f.read(3840 * 2 * 2))
        write(out + "/planes", "testpattern-4k-head",
              planes_input(0x03, b"4K.", 3840, 2160, *heads))
        for i, name in ((2, "testpattern-4k-moov-first"), (3, "testpattern-4k-moov-first-64")):
            with open(os.path.join(work, str(i), "tp.mov"), "rb") as f:
                write(out + "/mov", name, mov_input(0, f.read(16384)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--testpattern")
    args = parser.parse_args()
    out = args.out

    d = out + "/dpx"
    write(d, "64x32-decodes-first-call", bytes([0x00]) + dpx(64, 32))
    write(d, "16x8-handshake", bytes([0x01]) + dpx(16, 8))
    write(d, "16x8-offset-780", bytes([0x10]) + dpx(16, 8, offset=780))
    write(d, "33x17-odd", bytes([0xE2]) + dpx(33, 17))
    write(d, "7680x2-widest", bytes([0x00]) + dpx(7680, 2, rows=1))
    write(d, "7x5-shift3", bytes([0x6F]) + dpx(7, 5))
    write(d, "truncated-mid-row", bytes([0x00]) + dpx(16, 8)[:2048 + 16 * 6 * 3 + 7])
    write(d, "little-endian", bytes([0x00]) + dpx(16, 8, magic=b"XPDS"))
    write(d, "too-wide", bytes([0x00]) + dpx(7681, 1, rows=0))

    p = out + "/planes"
    r, g, b = (plane(16, 8, c) for c in range(3))
    write(p, "16x8-xK", planes_input(0x00, b"xK.", 16, 8, r, g, b))
    write(p, "16x8-xK-shift1-upper", planes_input(0x81, b"2K.", 16, 8, r, g, b))
    write(p, "odd-33x17", planes_input(0x02, b"_K.", 33, 17, *(plane(33, 17, c) for c in range(3))))
    write(p, "4K-handshake", planes_input(0x03, b"4K.", 16, 8, r, g, b))
    write(p, "8K-handshake", planes_input(0x0F, b"8K.", 16, 8, r, g, b))
    write(p, "b-missing", planes_input(0x40, b"xK.", 16, 8, r, g, b))
    write(p, "short-planes", planes_input(0x00, b"xK.", 16, 8, r[:33], g[:100], b[:7]))
    write(p, "lower-k", planes_input(0x00, b"4k.", 16, 8, r, g, b))

    m = out + "/mov"
    frames = v210_frames(3)
    write(m, "usual", mov_input(1, FTYP + WIDE + atom(b"mdat", frames) + moov(SMALL, 3)))
    write(m, "mdat64", mov_input(2, FTYP + WIDE + atom64(b"mdat", frames) + moov(SMALL, 3)))
    write(m, "moov-first", mov_input(0, FTYP + moov(SMALL, 3) + atom(b"mdat", frames)))
    write(m, "past-the-end", mov_input(7, FTYP + atom(b"mdat", frames) + moov(SMALL, 3)))
    write(m, "negative-index", mov_input(-1, FTYP + atom(b"mdat", frames) + moov(SMALL, 3)))
    write(m, "truncated-frame", mov_input(
        0, FTYP + moov(SMALL, 1) + atom(b"mdat", frames)[:8 + 700], control=0x0C))
    write(m, "4k-sample-size", mov_input(0, FTYP + atom(b"mdat", frames) + moov(22118400, 2)))
    write(m, "8k-sample-size", mov_input(0, FTYP + atom(b"mdat", frames) + moov(88473600, 2)))
    write(m, "size-table", mov_input(0, FTYP + atom(b"mdat", frames) + moov(0, 3)))

    s = out + "/sequence"
    small = dpx(16, 8)
    write(s, "dpx-three", sequence_input(0x20, b"shot_0002.dpx", [
        (b"shot_0001.dpx", small), (b"shot_0002.dpx", small), (b"shot_0003.dpx", dpx(8, 4))]))
    write(s, "dpx-digits-only", sequence_input(0x41, b"0012.DPX", [
        (b"0012.DPX", small), (b"0013.DPX", small[:900])]))
    write(s, "dpx-several-dots", sequence_input(0x00, b"take01.0012.dpx", [
        (b"take01.0012.dpx", small), (b"take02.0012.dpx", small), (b"take01.0013.dpx", small)]))
    write(s, "planar", sequence_input(0x21, b"clip.0005.xK.g", [
        (b"clip.0005.xK.r", plane(16, 8, 0)), (b"clip.0005.xK.g", plane(16, 8, 1)),
        (b"clip.0005.xK.b", plane(16, 8, 2)), (b"clip.0006.xK.r", b"")]))
    write(s, "movie", sequence_input(0x62, b"scene.mov", [
        (b"scene.mov", FTYP + atom(b"mdat", frames) + moov(SMALL, 3))]))
    write(s, "sub-folder", sequence_input(0x10, b"shot_0001.dpx", [
        (b"shot_0001.dpx", small), (b"shot_0002.dpx", b"")]))
    write(s, "quote", sequence_input(0x00, b'shot_0001.dpx"', [(b"shot_0001.dpx", small)]))
    write(s, "multibyte", sequence_input(0x00, "ショット_0001.dpx".encode("utf-8"), [
        ("ショット_0001.dpx".encode("utf-8"), small), (b"\x81\\_0001.dpx", small)]))

    if args.testpattern and os.access(args.testpattern, os.X_OK):
        from_testpattern(args.testpattern, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
