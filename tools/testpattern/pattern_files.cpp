#include "tools/testpattern/pattern_files.h"

#include <algorithm>
#include <vector>

#include "formats/v210_row.h"
#include "tools/testpattern/dpx_file.h"
#include "tools/testpattern/pattern.h"
#include "tools/testpattern/planar_file.h"
#include "tools/testpattern/v210_pack.h"

namespace {

// The picture rows of frames laid back to back, each frame showing the next number. The row
// holds at least `room` pixels; those past the width stay black.
class PatternRows {
 public:
  PatternRows(int32_t width, int32_t height, int32_t firstNumber, size_t room)
      : First(firstNumber),
        Number(firstNumber),
        Layout(MakePatternLayout(width, height, firstNumber)),
        Pixels(std::max(size_t(width), room), Rgb10{kBlackCode, kBlackCode, kBlackCode}) {}
  const Rgb10* Row(uint64_t row) {
    const uint64_t height = uint64_t(Layout.Height);
    const int32_t number = First + int32_t(row / height);
    if (number != Number) {
      Number = number;
      Layout = MakePatternLayout(Layout.Width, Layout.Height, number);
    }
    RenderPatternRow(Layout, int32_t(row % height), Pixels.data());
    return Pixels.data();
  }

 private:
  int32_t First;
  int32_t Number;
  PatternLayout Layout;
  std::vector<Rgb10> Pixels;
};

}  // namespace

RowFile PatternDpx(int32_t width, int32_t height, int32_t number) {
  PatternRows rows(width, height, number, 0);
  return {
      DpxHeader(uint32_t(width), uint32_t(height)),
      uint64_t(height),
      size_t(width) * kDpxBytesPerPixel,
      [rows, width](uint64_t row, uint8_t* out) mutable { PutDpxRow(rows.Row(row), width, out); },
      {}};
}

RowFile PatternPlane(int32_t width, int32_t height, int32_t number, int32_t plane) {
  PatternRows rows(width, height, number, 0);
  return {{},
          uint64_t(height),
          size_t(width) * kPlanarBytesPerSample,
          [rows, width, plane](uint64_t row, uint8_t* out) mutable {
            PutPlanarRow(rows.Row(row), width, int32_t(row), plane, out);
          },
          {}};
}

RowFile PatternMovie(const MovieInfo& movie, int32_t firstNumber) {
  const int32_t width = movie.Width;
  const size_t samples = size_t(GetV210RowGeometry(width).LumaSamples);
  PatternRows rows(width, movie.Height, firstNumber, samples);
  std::vector<YCbCr10> converted(samples);
  return MovieFile(movie, [rows, converted, width](uint64_t row, uint8_t* out) mutable {
    // Runs of one colour are long: convert again only when the colour changes.
    const Rgb10* pixels = rows.Row(row);
    Rgb10 last = pixels[0];
    YCbCr10 lastConverted = ToYCbCr(last);
    for (size_t x = 0; x < converted.size(); ++x) {
      const Rgb10 c = pixels[x];
      if (c.R != last.R || c.G != last.G || c.B != last.B) {
        last = c;
        lastConverted = ToYCbCr(c);
      }
      converted[x] = lastConverted;
    }
    PackV210Row(converted.data(), width, out);
  });
}
