// v210 frame reader.
//
// The frame size comes from the sample size alone; the sample description is never read:
//
//   sample size   frame         row stride   groups per row
//   88473600      7680 x 4320   20480        1280
//   22118400      3840 x 2160   10240        640
//
// Frame i starts at MovDataOffset + i * sample size. Its rows follow one another with nothing
// between them, the top row of the picture first.

#include "formats/v210_reader.h"

#include <cstddef>
#include <cstdint>

#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "formats/mov_atoms.h"
#include "formats/v210_row.h"
#include "platform/file.h"

namespace {

struct MovFrameSize {
  uint32_t sampleSize;
  int32_t width;
  int32_t height;
};

constexpr MovFrameSize kMovFrameSizes[] = {
    {88473600, 7680, 4320},
    {22118400, 3840, 2160},
#if ZELKORA_FUZZ_BUILD
    // Fuzzing builds only: a 48 x 16 frame of the same shape (whole groups, both sides multiples
    // of 8), so that a fuzz run decodes a frame in microseconds instead of 22 MB of it.
    {2048, 48, 16},
#endif
};

// Each known frame is a whole number of rows, and one row fits the raw row buffer while its
// unpacked planes fit the ReadBuffer.
constexpr bool FitsRowBuffers(const MovFrameSize& size) {
  const V210RowGeometry g = GetV210RowGeometry(size.width);
  return uint64_t(g.stride) * uint64_t(size.height) == size.sampleSize &&
         g.stride <= kMovRowBufferSize &&
         (g.lumaSamples + 2 * g.chromaSamples) * int32_t(sizeof(uint16_t)) <= kReadBufferSize;
}
static_assert(FitsRowBuffers(kMovFrameSizes[0]) && FitsRowBuffers(kMovFrameSizes[1]),
              "a v210 row must fit the row buffers");
#if ZELKORA_FUZZ_BUILD
static_assert(FitsRowBuffers(kMovFrameSizes[2]), "a v210 row must fit the row buffers");
#endif

const MovFrameSize* FindMovFrameSize(uint32_t sampleSize) {
  for (const MovFrameSize& size : kMovFrameSizes) {
    if (size.sampleSize == sampleSize) return &size;
  }
  return nullptr;
}

// Reads the frame's rows in file order, top row first; only rows whose number from the bottom
// is a multiple of 2^ScaleShift are read, the others are passed over by a relative seek.
void DecodeMovFrame(PlatformFile file, bool located, const MovFrameSize& size) {
  const V210RowGeometry geometry = GetV210RowGeometry(size.width);
  const uint32_t stride = uint32_t(geometry.stride);
  const int32_t shift = Viewer.ScaleShift;
  const int32_t shownMask = (int32_t(1) << shift) - 1;
  const size_t bitmapRowBytes = size_t(size.width >> shift) * 4;
  uint8_t* const raw = Viewer.MovRowBuffer;
  uint16_t* const y = reinterpret_cast<uint16_t*>(Viewer.ReadBuffer);
  uint16_t* const cb = y + geometry.lumaSamples;
  uint16_t* const cr = cb + geometry.chromaSamples;

  for (int32_t r = size.height - 1; r >= 0; --r) {
    if ((r & shownMask) != 0) {
      if (located) PlatformSeekFile(file, stride, SeekFromCurrent);
      continue;
    }
    const uint32_t delivered = located ? PlatformReadFile(file, raw, stride) : 0;
    // A frame past the last sample or a file cut short: what is missing shows black, never
    // what an earlier read left in the buffer.
    if (delivered < stride) FillV210Black(raw, delivered, stride);
    UnpackV210Row(raw, geometry, y, cb, cr);
    StoreV210Row(y, cb, cr, size.width, shift,
                 Viewer.FramePixels + size_t(r >> shift) * bitmapRowBytes);
  }
}

}  // namespace

int32_t ReadMovFrame() {
  const MovFrameSize* size = FindMovFrameSize(Viewer.MovSampleSize);
  if (size == nullptr) return -1;

  // The size handshake: record the movie's size and let the shell rebuild the bitmap first.
  if (size->width != Viewer.SourceWidth || size->height != Viewer.SourceHeight) {
    Viewer.SourceWidth = size->width;
    Viewer.SourceHeight = size->height;
    return 0;
  }

  const int64_t frameStart =
      MovFrameOffset(Viewer.MovDataOffset, Viewer.MovSampleSize, Viewer.CurrentFrame);
  if (frameStart < 0) return -1;
  // A reload without the handshake (playback, a colour toggle) after the source size changed
  // must not write into a bitmap made for another size.
  if (!FrameBufferFitsSource() || !EnsureMovRowBuffer()) return -1;

  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return -1;
  const bool located = PlatformSeekFile(file, frameStart, SeekFromStart) == frameStart;
  DecodeMovFrame(file, located, *size);
  PlatformCloseFile(file);
  return 0;
}
