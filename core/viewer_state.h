// The one process-wide state of the viewer. Every operation of the core reads and writes it;
// the window shell keeps its own window-system handles beside it (app/shell.h).
#pragma once

#include <cstdint>

// Source layouts, from the opened file's extension.
enum SourceKind : int32_t { Dpx = 0, Mov = 1, RgbPlanes = 2, Unknown = 3 };

constexpr int kPathBufferSize = 260;                    // 259 characters and the terminator
constexpr int kScratchBufferSize = 260;                 // search pattern, status texts
constexpr int kReadBufferSize = 61440;                  // one 7680-pixel row of four 16-bit samples
constexpr int kMovRowBufferSize = 20480;                // one raw v210 row of 7680 pixels
constexpr int kFrameReadBytes = (8 << 20) + (1 << 19);  // rows in flight, and room around each
constexpr int kReasonBufferSize = 320;                  // a file name and why it was refused
constexpr int32_t kFrame4KWidth = 3840;                 // the two named frame sizes
constexpr int32_t kFrame4KHeight = 2160;
constexpr int32_t kFrame8KWidth = 7680;
constexpr int32_t kFrame8KHeight = 4320;
constexpr int32_t kMaxSourceWidth = kFrame8KWidth;
constexpr int32_t kMaxSourceHeight = kFrame8KHeight;
constexpr int32_t kDefaultSourceWidth = kFrame4KWidth;
constexpr int32_t kDefaultSourceHeight = kFrame4KHeight;
constexpr int32_t kDefaultScaleShift = 2;
constexpr int32_t kMaxPlaybackStep = 10;

// Byte-for-byte the layout of BITMAPINFOHEADER followed by one RGBQUAD, so the shell can hand
// it to SetDIBitsToDevice as a BITMAPINFO without the core including <windows.h>.
struct FrameBufferHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: bottom-up rows
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
struct FrameBufferInfo {
  FrameBufferHeader bmiHeader;
  uint8_t bmiColors[4];
};
static_assert(sizeof(FrameBufferHeader) == 40, "must match BITMAPINFOHEADER");
static_assert(sizeof(FrameBufferInfo) == 44, "must match BITMAPINFO");

struct ViewerState {
  // Source size and display reduction: the bitmap is the source size shifted right.
  int32_t SourceWidth;
  int32_t SourceHeight;
  int32_t ScaleShift;  // 0..3 for 1, 1/2, 1/4, 1/8

  // FrameBuffer: 32-bit bottom-up DIB, pixels B, G, R and a fourth byte no reader writes.
  FrameBufferInfo FrameInfo;
  uint8_t* FramePixels;  // null when the last rebuild could not allocate (then 0 x 0)

  // The rows of a frame in flight; the movie scan's own block.
  uint8_t* ReadBuffer;    // kFrameReadBytes, allocated once by the first rebuild
  uint8_t* MovRowBuffer;  // kMovRowBufferSize bytes a worker, allocated by the first movie scan

  // The file of the current frame and where its name begins.
  char Path[kPathBufferSize];
  int32_t NamePart;
  char Scratch[kScratchBufferSize];

  // The open sequence.
  int32_t Kind;          // SourceKind
  char* FrameList;       // FrameCount entries of LongestName + 1 bytes, or null
  int32_t LongestName;   // bytes, terminator not counted
  int32_t FrameCount;    // 0 when nothing is open
  int32_t CurrentFrame;  // counted from 0; for a movie, the frame inside it

  // Why the last scan or load failed, in words: "name: fact", the name that of the file the fact
  // is about (for planar frames, maybe another plane than the listed one). Empty when the failure
  // has nothing to add, and after every success. ReasonFact is where the fact begins in it.
  char Reason[kReasonBufferSize];
  int32_t ReasonFact;

  // Movie facts from the atom scan.
  uint64_t* MovFrameOffsets;  // MovSampleCount entries; null: frames lie back to back
  int32_t MovWidth;           // from the sample description with the table; else 0
  int32_t MovHeight;
  uint64_t MovDataOffset;  // first payload byte of the media data (back to back)
  uint32_t MovSampleSize;  // bytes per frame (back to back)
  int32_t MovSampleCount;

  int32_t PlaybackStep;  // -10..+10, 0 = no advance
  int32_t HdrToSdr;      // colour option flags, 0 or 1
  int32_t Bt709;
};

extern ViewerState Viewer;

// Back to the start-up state: defaults set, every block the state owns returned to the heap.
// The viewer calls it once before anything else; tests and tools call it between cases.
void ResetViewerState();
