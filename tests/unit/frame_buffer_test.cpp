// The display bitmap: its size at every reduction, and what the shell does after an open.
#include <gtest/gtest.h>

#include "core/frame_buffer.h"
#include "core/viewer_state.h"

namespace {

TEST(FrameBuffer, SizeFollowsSourceAndScaleShift) {
  struct Case {
    int32_t width, height, shift, bitmapWidth, bitmapHeight;
  } const cases[] = {
      {3840, 2160, 2, 960, 540},  // the start-up bitmap
      {3840, 2160, 3, 480, 270},
      {3840, 2160, 0, 3840, 2160},
      {7680, 4320, 2, 1920, 1080},
      {7681 - 1, 4321 - 1, 1, 3840, 2160},
      {7, 5, 1, 3, 2},  // a size that does not divide: the surplus is dropped
      {0, 2160, 2, 0, 540},
  };
  for (const Case& c : cases) {
    ResetViewerState();
    Viewer.SourceWidth = c.width;
    Viewer.SourceHeight = c.height;
    Viewer.ScaleShift = c.shift;
    ResetFrameBuffer();
    const FrameBufferHeader& h = Viewer.FrameInfo.bmiHeader;
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ">>" << c.shift);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_NE(Viewer.ReadBuffer, nullptr);
    EXPECT_TRUE(FrameBufferFitsSource());
    EXPECT_FALSE(FrameBufferNeedsRefit());
    if (c.bitmapWidth == 0) {
      // An empty picture has no buffer and a 0 x 0 header.
      EXPECT_EQ(Viewer.FramePixels, nullptr);
      EXPECT_EQ(h.biWidth, 0);
      continue;
    }
    EXPECT_EQ(h.biWidth, c.bitmapWidth);
    EXPECT_EQ(h.biHeight, c.bitmapHeight);  // positive: bottom-up
    // A fresh buffer is black, fourth byte included.
    const size_t bytes = size_t(c.bitmapWidth) * size_t(c.bitmapHeight) * 4;
    EXPECT_EQ(Viewer.FramePixels[0], 0);
    EXPECT_EQ(Viewer.FramePixels[bytes - 1], 0);
  }
  ResetViewerState();
}

TEST(FrameBuffer, ReadBufferIsAllocatedOnceAndKept) {
  ResetViewerState();
  ResetFrameBuffer();
  uint8_t* const first = Viewer.ReadBuffer;
  first[0] = 0x5A;
  Viewer.ScaleShift = 0;
  ResetFrameBuffer();
  EXPECT_EQ(Viewer.ReadBuffer, first);
  EXPECT_EQ(Viewer.ReadBuffer[0], 0x5A);
  ResetViewerState();
}

TEST(FrameBuffer, AfterOpenRefitsReloadsOrRepaints) {
  struct Case {
    int32_t newWidth, newHeight;
    AfterOpen expected;
  } const cases[] = {
      {3840, 2160, AfterOpen::Repaint},  // the same size: the frame was decoded already
      {7680, 4320, AfterOpen::Refit},    // a new bitmap size
      {3841, 2161, AfterOpen::Reload},   // shifts to the same 960 x 540: decode it now
      {3843, 2160, AfterOpen::Reload},  {3844, 2160, AfterOpen::Refit},
  };
  for (const Case& c : cases) {
    ResetViewerState();
    ResetFrameBuffer();
    Viewer.SourceWidth = c.newWidth;
    Viewer.SourceHeight = c.newHeight;
    EXPECT_EQ(DecideAfterOpen(3840, 2160), c.expected) << c.newWidth << "x" << c.newHeight;
    EXPECT_EQ(FrameBufferFitsSource(), c.expected != AfterOpen::Refit);
  }
  ResetViewerState();
}

}  // namespace
