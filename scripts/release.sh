#!/usr/bin/env bash
# The download for Windows users: dist/zelkora-<version>-win32.zip with zelkora.exe (and
# zelkora-frame.exe where the build makes one), README.txt, the licence notices of what is
# linked into the exe, and SHA256SUMS of them all.
#
#   scripts/release.sh           builds the zip from this checkout (build/release-win32)
#   scripts/release.sh --check   builds it from two fresh clones of HEAD in folders of different
#                                names and lengths, and fails unless both zips are the same bytes
#
# Reproducible: the link writes no time stamp and the compiler no folder of the checkout
# (CMakeLists.txt), and every zip entry has a fixed time, mode and place in the order.
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ "${1:-}" = "--check" ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  sums=()
  for folder in a "second/much longer folder"; do
    git clone -q --no-hardlinks "$ROOT" "$scratch/$folder/zelkora"
    log "release from a clone in $scratch/$folder"
    bash "$scratch/$folder/zelkora/scripts/release.sh" >/dev/null
    sums+=("$(cd "$scratch/$folder/zelkora/dist" && sha256sum zelkora-*-win32.zip)")
  done
  printf '%s\n' "${sums[@]}"
  [ "${sums[0]}" = "${sums[1]}" ] || { log "the two clones gave different zips"; exit 1; }
  log "both clones gave the same zip"
  exit 0
fi

ensure_packages
BUILD=build/release-win32
log "release build ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELKORA_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
targets=(zelkora)
if cmake --build "$BUILD" --target help | grep -w zelkora-frame >/dev/null; then targets+=(zelkora-frame); fi
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}"
version=$(sed -n 's/^#define ZELKORA_VERSION "\(.*\)"$/\1/p' "$BUILD/generated/zelkora_version.h")

STAGE=$BUILD/stage
rm -rf "$STAGE" && mkdir -p "$STAGE/licences"
cp "$BUILD/zelkora.exe" "$STAGE/"
[ -f "$BUILD/tools/zelkora-frame.exe" ] && cp "$BUILD/tools/zelkora-frame.exe" "$STAGE/"
# Linked into the exe: the mingw-w64 runtime and winpthreads; libgcc and libstdc++, under the
# GPL with the GCC Runtime Library Exception. Debian's notices, as installed with them.
cp /usr/share/doc/mingw-w64-common/copyright "$STAGE/licences/mingw-w64-runtime-and-winpthreads.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$STAGE/licences/gcc-libgcc-libstdc++.txt"
cp /usr/share/common-licenses/GPL-3 "$STAGE/licences/GPL-3.txt"
sed "s/@VERSION@/$version/; s/\$/\r/" >"$STAGE/README.txt" <<'EOF'
Zelkora @VERSION@ - a viewer for uncompressed 4K and 8K video frames

Zelkora shows uncompressed 4K (3840 x 2160) and 8K (7680 x 4320) video at 1, 1/2, 1/4 or
1/8 of its size, pixel for pixel, and plays through it. It runs on Windows 7 to 11, 32- and
64-bit. It installs nothing and writes nothing: no settings, no registry, no files. To remove
it, delete its folder.

Opening a file
  Start zelkora.exe and choose File > Open, drop a file on its window, or name the file on the
  command line:  zelkora.exe "D:\grade\shot_0012.dpx"
  Open any one frame of a numbered sequence; the viewer finds the others in the same folder.

What it reads
  - DPX frames (shot_0001.dpx ...), RGB or RGBA, 8, 10, 12 or 16 bits.
  - QuickTime movies of uncompressed v210 video (scene.mov).
  - Raw planar R/G/B files: clip_0001.4K.r, .g, .b (or .8K.).
  Every source is taken as BT.2020 narrow-range video. The Color menu converts to BT.709 and
  tone-maps HLG to SDR. File and folder names may be in any script.

Keys and mouse
  Right arrow   play forward; each press adds a frame per tick (up to 10)
  Left arrow    play backward, the same way
  . and ,       one frame forward or back
  Home, End     the first or the last frame
  any other key pause
  Q             quit at once
  A picture larger than the window (8K at Original size) moves with the left mouse button
  held down, or with the mouse wheel (with Shift: sideways).

The status bar shows the file name, the frame (counted from 0) and the step. A frame that
cannot be read shows black, and the status bar says why.

zelkora-frame.exe, where present, writes the frame the viewer would show to a file; run it
without arguments for its options.

The licences of the runtime libraries built into the programs are in the licences folder.
SHA256SUMS lists the checksum of every file.
EOF

mkdir -p dist
"${PYTHON:-python3}" - "$STAGE" "dist/zelkora-$version-win32.zip" "zelkora-$version" <<'EOF'
import hashlib, os, sys, zipfile
stage, out, top = sys.argv[1:]
names = sorted(os.path.relpath(os.path.join(d, f), stage).replace(os.sep, "/")
               for d, _, files in os.walk(stage) for f in files)
read = lambda name: open(os.path.join(stage, name), "rb").read()
sums = "".join(f"{hashlib.sha256(read(n)).hexdigest()}  {n}\r\n" for n in names)
with zipfile.ZipFile(out, "w") as archive:
    for name, data in [(n, read(n)) for n in names] + [("SHA256SUMS", sums.encode())]:
        entry = zipfile.ZipInfo(f"{top}/{name}", date_time=(1980, 1, 1, 0, 0, 0))
        entry.compress_type, entry.create_system = zipfile.ZIP_DEFLATED, 0
        entry.external_attr = 0o644 << 16
        archive.writestr(entry, data, compresslevel=9)
EOF
log "dist/zelkora-$version-win32.zip"
sha256sum "dist/zelkora-$version-win32.zip"
