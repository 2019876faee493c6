#include "core/frame_buffer.h"

#include <cstring>

#include "core/viewer_state.h"
#include "platform/heap.h"

namespace {
constexpr uint32_t kBiRgb = 0;
}

void ResetFrameBuffer() {
  PlatformFree(Viewer.FramePixels);
  Viewer.FramePixels = nullptr;
  FrameBufferInfo& info = Viewer.FrameInfo;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(FrameBufferHeader);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = kBiRgb;

  const int32_t width = Viewer.SourceWidth >> Viewer.ScaleShift;
  const int32_t height = Viewer.SourceHeight >> Viewer.ScaleShift;
  bool sized = true;  // a picture of no pixels needs no buffer
  if (width > 0 && height > 0) {
    // Both are at most 7680 x 4320, so the byte count fits easily in 64 bits.
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
    Viewer.FramePixels = static_cast<uint8_t*>(PlatformAllocZeroed(size_t(bytes)));
    sized = Viewer.FramePixels != nullptr;
    // Fresh pages come mapped to nothing, or read-only to one shared zero page: the first write
    // to each would fault while a frame decodes, and a write after a read (the movie reader
    // keeps every pixel's fourth byte) faults twice and stops every other core to flush its
    // address cache. Written once here, at the size change, they cost every later frame
    // nothing.
    if (sized) std::memset(Viewer.FramePixels, 0, size_t(bytes));
  }
  // Without its buffer the bitmap is empty: nothing is painted and no reader writes.
  if (sized) {
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
  }
  if (Viewer.ReadBuffer == nullptr) {
    Viewer.ReadBuffer = static_cast<uint8_t*>(PlatformAllocZeroed(size_t(kFrameReadBytes)));
  }
}

void ClearFrameBuffer() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  if (Viewer.FramePixels == nullptr) return;
  std::memset(Viewer.FramePixels, 0, size_t(h.biWidth) * size_t(h.biHeight) * 4);
}

bool FrameBufferFitsSource() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  const int32_t width = Viewer.SourceWidth >> Viewer.ScaleShift;
  const int32_t height = Viewer.SourceHeight >> Viewer.ScaleShift;
  // An empty picture (a header size of 0) has no buffer and nothing to write: it still fits.
  const bool havePixels = Viewer.FramePixels != nullptr || width <= 0 || height <= 0;
  return havePixels && Viewer.ReadBuffer != nullptr && h.biWidth == width && h.biHeight == height;
}

bool FrameBufferNeedsRefit() {
  const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
  return h.biWidth != (Viewer.SourceWidth >> Viewer.ScaleShift) ||
         h.biHeight != (Viewer.SourceHeight >> Viewer.ScaleShift);
}
