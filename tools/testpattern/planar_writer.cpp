// Planar frames: three headerless files per frame, NAME_0001.4K.r / .g / .b (8K for 7680 x
// 4320), each Height rows of Width 16-bit big-endian words, top row first. A word holds a
// 12-bit sample in its low 12 bits (the 10-bit code << 2). The top four bits are meaningless
// to the viewer, so some words carry junk there: a reader that forgets its mask shows it.
#include <string>
#include <vector>

#include "tools/testpattern/output_file.h"
#include "tools/testpattern/pattern.h"
#include "tools/testpattern/writers.h"

namespace {

// Junk for the top four bits: every third word of a row, never zero there.
uint16_t JunkBits(int32_t x, int32_t y) {
  if ((x + y) % 3 != 0) return 0;
  return uint16_t((((x >> 2) ^ y) & 0x7) | 0x8) << 12;
}

int32_t WritePlanarFrame(const PatternJob& job, int32_t frameIndex, std::vector<Rgb10>& pattern,
                         ByteVector (&rows)[3]) {
  const std::string stem =
      job.OutDir + "/" + FrameFileStem(job, frameIndex) + (job.Width > 3840 ? ".8K." : ".4K.");
  OutputFile r(stem + "r");
  OutputFile g(stem + "g");
  OutputFile b(stem + "b");
  OutputFile* planes[3] = {&r, &g, &b};
  for (OutputFile* plane : planes) {
    if (!plane->IsOpen()) {
      std::fprintf(stderr, "Can't create %s\n", plane->Path().c_str());
      return -1;
    }
  }
  const PatternLayout layout =
      MakePatternLayout(job.Width, job.Height, job.FirstNumber + frameIndex);
  for (int32_t y = 0; y < job.Height; ++y) {
    RenderPatternRow(layout, y, pattern.data());
    for (int32_t x = 0; x < job.Width; ++x) {
      const uint16_t junk = JunkBits(x, y);
      PutBigEndian16(&rows[0][size_t(x) * 2], uint16_t(junk | (pattern[x].R << 2)));
      PutBigEndian16(&rows[1][size_t(x) * 2], uint16_t(junk | (pattern[x].G << 2)));
      PutBigEndian16(&rows[2][size_t(x) * 2], uint16_t(junk | (pattern[x].B << 2)));
    }
    for (int i = 0; i < 3; ++i) planes[i]->Write(rows[i]);
  }
  for (OutputFile* plane : planes) {
    if (!plane->Close()) {
      std::fprintf(stderr, "Can't write %s\n", plane->Path().c_str());
      return -1;
    }
  }
  return 0;
}

}  // namespace

int32_t WritePlanarSequence(const PatternJob& job) {
  std::vector<Rgb10> pattern(size_t(job.Width));
  ByteVector rows[3];
  for (ByteVector& row : rows) row.resize(size_t(job.Width) * 2);
  for (int32_t i = 0; i < job.Frames; ++i) {
    if (WritePlanarFrame(job, i, pattern, rows) != 0) return -1;
  }
  return 0;
}
