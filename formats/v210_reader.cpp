// v210 frame reader. A movie with described tracks gives the frame size and every frame's place
// (mov_atoms.cpp); one without names its frame size by the sample size alone, and its frame i
// starts at MovDataOffset + i * sample size. Rows follow one another, the top of the picture
// first.

#include "formats/v210_reader.h"

#include "core/reasons.h"
#include "formats/mov_atoms.h"
#include "formats/row_walk.h"
#include "formats/v210_row.h"

namespace {

struct MovFrameSize {
  uint32_t SampleSize;
  int32_t Width;
  int32_t Height;
};

constexpr MovFrameSize kMovFrameSizes[] = {
    {88473600, kFrame8KWidth, kFrame8KHeight},
    {22118400, kFrame4KWidth, kFrame4KHeight},
};

// Each known frame is whole rows; the widest row a description may name fits the row buffer.
constexpr bool IsWholeRows(const MovFrameSize& size) {
  return uint64_t(GetV210RowGeometry(size.Width).Stride) * uint64_t(size.Height) == size.SampleSize;
}
constexpr V210RowGeometry kWidest = GetV210RowGeometry(kMaxSourceWidth);
static_assert(IsWholeRows(kMovFrameSizes[0]) && IsWholeRows(kMovFrameSizes[1]) &&
                  kWidest.Stride <= kMovRowBufferSize,
              "a v210 row must fit the row buffers");

const MovFrameSize* FindMovFrameSize(uint32_t sampleSize) {
  for (const MovFrameSize& size : kMovFrameSizes) {
    if (size.SampleSize == sampleSize) return &size;
  }
  return nullptr;
}

template <V210RowDecoder kDecode>
struct V210Row {
  static void Decode(const RowWalk& walk, uint8_t* bitmapRow) {
    kDecode(walk.Rows[0], GetV210RowGeometry(walk.Width).Groups, walk.Columns, walk.Shift,
            bitmapRow);
  }
};

}  // namespace

int32_t ReadMovFrame() {
  int32_t width = Viewer.MovWidth, height = Viewer.MovHeight;
  if (Viewer.MovFrameOffsets == nullptr) {
    const MovFrameSize* size = FindMovFrameSize(Viewer.MovSampleSize);
    if (size == nullptr) {
      return SetReason(kReasonMovSampleSize, Viewer.Path, unsigned(Viewer.MovSampleSize)), -1;
    }
    width = size->Width;
    height = size->Height;
  }

  // The size handshake: record the movie's size and let the shell rebuild the bitmap first.
  if (width != Viewer.SourceWidth || height != Viewer.SourceHeight) {
    Viewer.SourceWidth = width;
    Viewer.SourceHeight = height;
    return 0;
  }

  const int64_t frameStart = MovFrameStart(Viewer.CurrentFrame);
  if (frameStart < 0) {
    SetReason(kReasonMovFrameMissing, Viewer.Path, int(Viewer.CurrentFrame),
              int(Viewer.MovSampleCount));
    return -1;
  }

  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return SetReason(kReasonCantOpen, Viewer.Path), -1;
  // A frame past the last sample or a file cut short shows black where bytes are missing.
  FrameRows rows = {};
  rows.Files[0] = file;
  rows.FileCount = 1;
  rows.FirstRow = frameStart;
  rows.RowBytes = uint32_t(GetV210RowGeometry(width).Stride);
  rows.Missing = &kV210BlackRowBytes;
  // The decoder is chosen once for the frame; each row calls it directly.
  const int32_t result = UseAvx2Kernels ? DecodeFrame<V210Row<DecodeV210RowAvx2>>(rows)
                                        : DecodeFrame<V210Row<DecodeV210RowSse2>>(rows);
  PlatformCloseFile(file);
  return result;
}
