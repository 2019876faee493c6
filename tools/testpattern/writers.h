// The three layouts the viewer reads, each written from the same test picture.
#pragma once

#include <cstdint>
#include <string>

struct PatternJob {
  int32_t Width;
  int32_t Height;
  int32_t Frames;       // at least 1
  int32_t FirstNumber;  // number of the first frame: in its file name and in the picture
  bool Mdat64;          // movie: 64-bit mdat size even when 32 bits would do
  bool MoovFirst;       // movie: moov before mdat
  std::string OutDir;
  std::string Name;
};

// Each returns 0, or -1 after printing which file could not be written.

// OUTDIR/NAME_0001.dpx ...: 16-bit R, G, B, big-endian, the code in the top 10 bits.
int32_t WriteDpxSequence(const PatternJob& job);

// OUTDIR/NAME_0001.4K.r, .g, .b ... (8K for 7680 x 4320): headerless 16-bit big-endian words,
// the 12-bit value in the low bits and junk in the top four bits of some words.
int32_t WritePlanarSequence(const PatternJob& job);

// OUTDIR/NAME.mov: one track of v210 frames, BT.2020 narrow-range YCbCr.
int32_t WriteMovie(const PatternJob& job);

// "NAME_0001": at least four digits, more when the number needs them.
std::string FrameFileStem(const PatternJob& job, int32_t frameIndex);
