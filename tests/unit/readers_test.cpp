// The three frame readers, reached as the shell reaches them (OpenPath on files in a fresh
// folder; LoadFrame for a reload), against a naive model of each file layout written here: which
// file row and column lands in which bitmap pixel at every ScaleShift and colour option, read with
// any number of requests in flight of any size and decoded by several workers, for odd sizes,
// files cut short (mid-row, mid-request) and a bitmap left at another size, through the plain
// and the SSE2 row kernels. Then the v210 pixel conversion and row decoders.

#include <algorithm>
#include <array>
#include <tuple>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "formats/row_walk.h"
#include "formats/v210_row.h"
#include "platform/workers.h"
#include "tests/unit/test_files.h"

namespace {

enum Kind { kDpx, kPlanar, kV210 };
constexpr size_t kAll = SIZE_MAX;

struct Case {
  Kind Format;
  int32_t Width, Height;
  size_t Kept[3];  // bytes of each file's image data that the file holds; the rest is cut off
};

const Case kCases[] = {
    {kDpx, 8, 8, {kAll}},           // a multiple of every step
    {kDpx, 16, 24, {kAll}},         // several rows per step at 1/8
    {kDpx, 7, 5, {kAll}},           // no multiple: the surplus column and top row are dropped
    {kDpx, 9, 6, {kAll}},           // fewer rows than the step at 1/8: nothing to show there
    {kDpx, 1, 17, {kAll}},          // one column
    {kDpx, 13, 11, {5 * 78 + 20}},  // cut inside a pixel of row 5: R arrived, G and B did not
    {kDpx, 33, 17, {4 * 198}},      // cut between rows
    {kDpx, 8, 8, {0}},              // no image data at all: black, not the last frame's rows
    {kPlanar, 13, 11, {kAll, kAll, kAll}},     // odd both ways
    {kPlanar, 7, 5, {kAll, 47, kAll}},         // G ends inside a word: its low byte is 0
    {kPlanar, 16, 9, {0, kAll, 64}},           // an empty R plane; B ends between rows
    {kPlanar, 12, 10, {40, 100, 170}},         // all three short, each differently
    {kV210, 3840, 2160, {kAll}},               // the whole 4K frame
    {kV210, 3840, 2160, {40 * 10240 + 5002}},  // cut inside a word of row 40
    {kV210, 3840, 2160, {0}},                  // no frame data: black, not dark green
};

// How the rows are read: each case meets every one at every shift, with changing worker counts.
const FrameReadSettings kReads[] = {
    {1, 1, 1, false},               // one row at a time, one request in flight
    {2, 200, 1 << 20, false},       // a few rows a request, two in flight, cuts inside requests
    {3, 1 << 20, 8 << 20, true},    // the rows between shown ones read in the same request
    {32, 1 << 20, 3 << 20, false},  // many in flight, fewer where the bytes run out
};

// Bytes the file cache lacks are read straight from the disk on posix: every other load finds
// the frame's files evicted.
void Evict(const TestDir& dir) {
#ifndef _WIN32
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const int fd = open(entry.path().c_str(), O_RDONLY);
    fdatasync(fd);  // a page still to be written stays
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
#else
  (void)dir;
#endif
}

// A frame as written (Files: each file's image data, cut as the case says) and as the reader
// must see it (Seen: the same, then what the layout shows where a file ends).
struct Frame {
  Kind Format;
  int32_t Width, Height;
  std::vector<Bytes> Files, Seen;
  size_t RowBytes() const {
    const size_t w = size_t(Width);
    return Format == kDpx ? w * 6 : Format == kPlanar ? w * 2 : (w + 5) / 6 * 16;
  }
};

Frame MakeFrame(const Case& c) {
  Frame f{c.Format, c.Width, c.Height, {}, {}};
  const size_t rowBytes = f.RowBytes(), bytes = rowBytes * size_t(c.Height);
  const Bytes black = V210Grey(64, 16);  // missing samples show black (v210 zeros: dark green)
  for (size_t k = 0; k < (c.Format == kPlanar ? 3u : 1u); ++k) {
    Bytes b = Noise(bytes, uint32_t(c.Width * 31 + c.Height + int32_t(k)));
    // Rows 24 to h - 25 zero: the model of a 4K frame then computes one such row, not each.
    if (c.Height > 48) std::fill(b.begin() + ptrdiff_t(24 * rowBytes), b.end() - 24 * rowBytes, 0);
    f.Files.emplace_back(b.begin(), b.begin() + ptrdiff_t(std::min(bytes, c.Kept[k])));
    for (size_t i = f.Files[k].size(); i < bytes; ++i) b[i] = c.Format == kV210 ? black[i % 16] : 0;
    f.Seen.push_back(b);
  }
  return f;
}

// Writes the frame's files into the folder; returns the one the user opens.
std::string Write(const TestDir& dir, const Frame& f, char plane) {
  if (f.Format == kDpx) {
    // The image data where the header says, after filler that must not show: all ones, every
    // layout field undefined, so the layout is 16-bit RGB.
    const uint32_t offset = 1000 + 7 * uint32_t(f.Width);
    Bytes header = DpxMinimalHeader(uint32_t(f.Width), uint32_t(f.Height), offset);
    std::fill(header.begin() + 780, header.end(), 0xFF);
    return dir.Write("shot_0001.dpx", Join({header, f.Files[0]}));
  }
  if (f.Format == kPlanar) {
    // "2K" is no size: the frame is read at the current one. Any plane opened reads all three.
    for (int k = 0; k < 3; ++k) dir.Write(std::string("clip_0001.2K.") + "rgb"[k], f.Files[k]);
    return dir / (std::string("clip_0001.2K.") + plane);
  }
  // A movie written for streaming: the sample table, then the media data of one frame.
  return dir.Write("clip.mov", Join({Moov({Stsz(k4kSampleSize, 1)}),
                                     AtomHeader(8 + k4kSampleSize, "mdat"), f.Files[0]}));
}

// v210 packs six pixels into four little-endian words of three 10-bit fields: {word, field} of
// Y0..Y5, and of the Cb and Cr that pixels 0-1, 2-3 and 4-5 share.
const int kY[6][2] = {{0, 1}, {1, 0}, {1, 2}, {2, 1}, {3, 0}, {3, 2}};
const int kCb[3][2] = {{0, 0}, {1, 1}, {2, 2}};
const int kCr[3][2] = {{0, 2}, {2, 0}, {3, 1}};
int32_t Field(const uint8_t* group, const int (&at)[2]) {
  const uint8_t* w = group + 4 * at[0];
  return int32_t((w[0] | w[1] << 8 | w[2] << 16 | uint32_t(w[3]) << 24) >> (10 * at[1]) & 0x3FF);
}

// The BT.2020 matrix for narrow-range 10-bit samples, in double, on a 10-bit scale: each result
// truncated toward zero, then a quarter of it (rounded down) clamped to a byte.
PixelTriple Bt2020(int32_t y, int32_t cb, int32_t cr) {
  const double luma = (y - 64) * 1.1644, blue = cb - 512.0, red = cr - 512.0;
  const auto byte = [](double v) { return std::clamp(int32_t(v) >> 2, 0, 255); };
  return {byte(luma + 1.6787 * red), byte((luma - 0.1874 * blue) - 0.6505 * red),
          byte(luma + 2.1418 * blue)};
}

// Pixel x of file row n from the layout alone, before the colour options.
PixelTriple Model(const Frame& f, size_t n, int32_t x) {
  const auto big16 = [&](size_t k, size_t at) { return f.Seen[k][at] << 8 | f.Seen[k][at + 1]; };
  const size_t pixel = n * size_t(f.Width) + size_t(x);
  if (f.Format == kDpx) {  // R, G, B, 16 bits each: the code in the top ten
    const auto code = [&](size_t c) { return NarrowToFullTable[big16(0, 6 * pixel + 2 * c) >> 6]; };
    return {code(0), code(1), code(2)};
  }
  if (f.Format == kPlanar) {  // a plane per file, 16-bit words: the code in bits 2 to 11
    const auto code = [&](size_t k) { return NarrowToFullTable[big16(k, 2 * pixel) >> 2 & 0x3FF]; };
    return {code(0), code(1), code(2)};
  }
  const uint8_t* group = &f.Seen[0][n * f.RowBytes() + size_t(x / 6) * 16];
  return Bt2020(Field(group, kY[x % 6]), Field(group, kCb[x % 6 / 2]),
                Field(group, kCr[x % 6 / 2]));
}

PixelTriple WithOptions(PixelTriple p, int options) {  // bit 0 HdrToSdr, bit 1 Bt709
  if (options == 1) ApplyColourOptions<true, false>(p);
  if (options == 2) ApplyColourOptions<false, true>(p);
  if (options == 3) ApplyColourOptions<true, true>(p);
  return p;
}

// The naive walk: file row n is number g = h - 1 - n from the bottom, shown when g is a multiple
// of 2^s, in row g / 2^s of the bottom-up bitmap if it has one; column x likewise. Every pixel of
// the bitmap has one source, and its byte 3 keeps the mark.
void ExpectModel(const Frame& f, int32_t s, int options) {
  const int32_t step = 1 << s, columns = f.Width >> s, rows = f.Height >> s;
  const FrameBufferHeader& bitmap = Viewer.FrameInfo.bmiHeader;
  ASSERT_EQ(std::tie(bitmap.biWidth, bitmap.biHeight), std::tie(columns, rows));
  const size_t rb = f.RowBytes();
  int32_t shownRows = 0;
  size_t last = SIZE_MAX;
  std::vector<PixelTriple> want;
  for (size_t n = 0; n < size_t(f.Height); ++n) {
    const int32_t g = f.Height - 1 - int32_t(n);
    if (g % step != 0 || g / step >= rows) continue;
    ++shownRows;
    bool same = last != SIZE_MAX;  // the bytes of the last row shown: its pixels
    for (const Bytes& b : f.Seen) same = same && !std::memcmp(&b[n * rb], &b[last * rb], rb);
    for (int32_t x = 0; !same && x < f.Width; x += step) {
      if (x == 0) want.clear();
      if (x / step < columns) want.push_back(WithOptions(Model(f, n, x), options));
    }
    last = n;
    const uint8_t* p = Viewer.FramePixels + size_t(g / step) * size_t(columns) * 4;
    for (int32_t k = 0; k < columns; ++k, p += 4) {
      const PixelTriple& e = want[size_t(k)];
      if (p[0] != e.B || p[1] != e.G || p[2] != e.R || p[3] != kMark)
        FAIL() << "options " << options << ", file row " << n << ", column " << k * step;
    }
  }
  EXPECT_EQ(shownRows, rows);
}

TEST(Readers, EveryPixelComesFromWhereTheLayoutPutsIt) {
  ResetViewerState();
  const bool detected = UseSse2Kernels;
  BuildColourTables();
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    TestDir dir;
    const Frame f = MakeFrame(c);
    const std::string path = Write(dir, f, "rgb"[i % 3]);
    // The v210 row store has its own code for every shift and option: all of them run on the
    // whole frame; the cut frames are about the rows they lack, and 4K frames are slow to decode.
    const int optionSets = c.Format == kV210 && c.Kept[0] != kAll ? 1 : 4;
    for (int32_t s = 0; s <= 3; ++s) {
      // One worker, a few, and more workers than chunks. The 4K frames take one count per shift.
      for (const int32_t workers : {1, 2, 3, kMaxWorkers}) {
        if (c.Format == kV210 && workers != std::array{1, 2, 3, kMaxWorkers}[size_t(s)]) continue;
        SCOPED_TRACE(testing::Message() << "case " << i << ", shift " << s << ", " << workers);
        ASSERT_EQ(PlatformStartWorkers(workers), workers);
        for (int options = 0; options < optionSets; ++options) {
          FrameReads = kReads[(i + size_t(workers + options + s)) % std::size(kReads)];
          Prepare(c.Width, c.Height, s, options & 1, options >> 1);
          if ((workers + options) % 2 != 0) Evict(dir);
          UseSse2Kernels = detected && (workers + options / 2) % 2 == 0;
          ASSERT_EQ(Open(path), "") << "options " << options;
          ExpectModel(f, s, options);
        }
      }
      // The shift changed without the rebuild: the reload must refuse, not write out of bounds.
      FillBitmap(kMark);
      Viewer.ScaleShift = s ^ 1;
      const bool nothingToShow = (c.Width >> (s ^ 1)) == 0 || (c.Height >> (s ^ 1)) == 0;
      EXPECT_EQ(LoadFrame(), nothingToShow ? 0 : -1);
      EXPECT_TRUE(BitmapIsAll(kMark));
    }
  }
  FrameReads = kFrameReadDefaults;
  UseSse2Kernels = detected;
  PlatformStopWorkers();
  ResetViewerState();
}

// BT.2020 narrow range to 8 bits, worked by hand on a 10-bit scale, each truncated toward zero,
// then >> 2 and clamped.
TEST(V210Pixel, Bt2020ByHand) {
  struct {
    int32_t Y, Cb, Cr;
    PixelTriple Rgb;
  } const cases[] = {
      {64, 512, 512, {0, 0, 0}},         // narrow-range black
      {940, 512, 512, {255, 255, 255}},  // white: 1020.0144 -> 255
      {502, 512, 512, {127, 127, 127}},  // 510.0072: truncated to 127, not rounded to 128
      {0, 0, 0, {0, 88, 0}},             // all-zero bytes are dark green: G 354.4832
      {940, 512, 960, {255, 182, 255}},  // R 1772.0720 clamps; G 728.5904
      // Unclamped rows, each a hair from the next code: a coefficient 0.0001 off in either
      // direction changes one of them.
      {323, 731, 685, {147, 37, 192}},  // R 591.9947 G 148.0025 B 770.6338
      {622, 246, 167, {17, 231, 20}},   // R 70.5837 G 924.0061 B 80.0164
      {651, 528, 193, {36, 222, 179}},  // R 147.9975 G 888.0139 B 717.7716
      {619, 341, 189, {26, 222, 69}},   // R 104.0219 G 888.3989 B 279.9942
  };
  for (const auto& c : cases) {
    PixelTriple got;
    ConvertV210Pixel(c.Y, c.Cb, c.Cr, got);
    EXPECT_EQ(std::tie(got.R, got.G, got.B), std::tie(c.Rgb.R, c.Rgb.G, c.Rgb.B)) << c.Y;
  }
}

// Every row decoder against the matrix, over a row that holds every (Cb, Cr) pair once, the two
// pixels sharing it with different lumas, then every sample triple whose R, G or B lies exactly
// on a multiple of 4 (on a 10-bit scale), where doubles and integers may part; at every shift,
// with column counts that end inside, at or just past a vector or block, into a bitmap row of
// its own length.
TEST(V210Pixel, EveryDecoderGivesTheMatrixBytesForEveryChromaPair) {
  std::vector<uint16_t> y, cb, cr;
  const auto pair = [&](int32_t luma, int32_t blue, int32_t red, int32_t otherLuma) {
    y.push_back(uint16_t(luma)), y.push_back(uint16_t(otherLuma));
    cb.push_back(uint16_t(blue)), cr.push_back(uint16_t(red));
  };
  for (int32_t i = 0; i < 1024 * 1024; ++i)
    pair(i * 7 & 1023, i & 1023, i >> 10, (i * 13 + 5) & 1023);
  for (int32_t l = 0; l < 1024; ++l) {
    for (int32_t c = 0; c < 1024; ++c) {
      const int32_t luma = 11644 * (l - 64), chroma = c - 512;
      if ((luma + 16787 * chroma) % 40000 == 0) pair(l, 512, c, 1023 - l);  // R
      if ((luma + 21418 * chroma) % 40000 == 0) pair(l, c, 512, 1023 - l);  // B
      // G: 6505 Cr' = 11644 Y' - 1874 Cb' (mod 40000), solvable when the right side is a
      // multiple of 5, with 701 the inverse of 6505 / 5 modulo 8000.
      const int32_t right = luma - 1874 * chroma;
      if (right % 5 != 0) continue;
      const int32_t red = int32_t(((int64_t(right / 5) * 701) % 8000 + 8000 + 512) % 8000) - 512;
      if (red < 512) pair(l, c, red + 512, 1023 - l);
    }
  }
  const size_t groups = (y.size() + 5) / 6;
  y.resize(groups * 6, 64), cb.resize(groups * 3, 512), cr.resize(groups * 3, 512);
  std::vector<uint32_t> words(groups * 4);
  for (size_t g = 0; g < groups; ++g) {
    const auto put = [&](const int(&at)[2], uint16_t v) {
      words[4 * g + at[0]] |= v << 10 * at[1];
    };
    for (int q = 0; q < 6; ++q) put(kY[q], y[6 * g + q]);
    for (int c = 0; c < 3; ++c) put(kCb[c], cb[3 * g + c]), put(kCr[c], cr[3 * g + c]);
  }
  std::vector<uint8_t> row(words.size() * 4);
  std::memcpy(row.data(), words.data(), row.size());  // little-endian, as the file has them
  struct Decoder {
    const char* Name;
    V210RowDecoder Decode;
  };
  std::vector<Decoder> decoders = {{"plain", DecodeV210RowPlain}, {"SSE2", DecodeV210RowSse2}};
  if (UseAvx2Kernels) decoders.push_back({"AVX2", DecodeV210RowAvx2});
  const int32_t all = int32_t(y.size());
  const std::pair<int32_t, int32_t> runs[] = {
      // shift, columns
      {0, all - 1}, {1, all / 2 - 1}, {2, all / 4 - 1}, {3, all / 8 - 1}, {0, 1}, {0, 23},
      {0, 24},      {0, 25},          {0, 47},          {0, 71},          {1, 5}, {3, 7},
      {2, 7},       {2, 8},           {2, 13},          {2, 14},          {2, 20}};
  for (const auto& [s, columns] : runs) {
    std::vector<uint8_t> want(size_t(columns) * 4, kMark);
    for (int32_t k = 0; k < columns; ++k) {
      const size_t x = size_t(k) << s;
      const PixelTriple e = Bt2020(y[x], cb[x / 2], cr[x / 2]);
      want[4 * size_t(k)] = uint8_t(e.B), want[4 * size_t(k) + 1] = uint8_t(e.G);
      want[4 * size_t(k) + 2] = uint8_t(e.R);
    }
    for (const Decoder& d : decoders) {
      std::vector<uint8_t> out(size_t(columns) * 4, kMark);
      d.Decode(row.data(), int32_t(groups), columns, s, out.data());
      const auto first = std::mismatch(out.begin(), out.end(), want.begin()).first;
      const size_t at = size_t(first - out.begin()) / 4, x = at << s;
      if (at < size_t(columns))
        ADD_FAILURE() << d.Name << ", shift " << s << ", " << columns << " columns, pixel " << at
                      << ": Y " << y[x] << " Cb " << cb[x / 2] << " Cr " << cr[x / 2];
    }
  }
}

#if defined(__SSE2__)
// The eight-pixel store computes the narrow-to-full codes the table holds: every 10-bit code in
// every channel, each channel in another order so no two share a pixel's position.
TEST(EightPixelStore, EveryCodeIsTheTablesAndTheFourthByteStays) {
  BuildColourTables();
  std::vector<uint8_t> out(1024 * 4);
  for (size_t i = 0; i < 1024; ++i) out[4 * i + 3] = uint8_t(i * 7);  // each fourth byte its own
  const auto code = [](int32_t i, int32_t channel) {
    return (i * (2 * channel + 1) + channel) & 1023;
  };
  for (int32_t i = 0; i < 1024; i += 8) {
    alignas(16) int16_t lanes[3][8];
    for (int32_t c = 0; c < 3; ++c)
      for (int32_t k = 0; k < 8; ++k) lanes[c][k] = int16_t(code(i + k, c));
    const auto load = [&](int32_t c) {
      return _mm_load_si128(reinterpret_cast<__m128i*>(lanes[c]));
    };
    StoreEightCodes(load(0), load(1), load(2), &out[size_t(i) * 4]);
  }
  for (int32_t i = 0; i < 1024; ++i) {
    const uint8_t* p = &out[size_t(i) * 4];
    const int32_t want[4] = {NarrowToFullTable[code(i, 2)], NarrowToFullTable[code(i, 1)],
                             NarrowToFullTable[code(i, 0)], uint8_t(i * 7)};
    for (int32_t b = 0; b < 4; ++b) EXPECT_EQ(p[b], want[b]) << "pixel " << i << " byte " << b;
  }
}
#endif

}  // namespace

TEST(FrameBuffer, HeaderIsWhatTheShellPaintsFrom) {
  // SetDIBitsToDevice takes it as it stands: 32-bit, bottom-up, uncompressed, no palette.
  ResetViewerState();
  ResetFrameBuffer();  // the start-up bitmap: 3840 x 2160 at 1/4
  EXPECT_EQ(Viewer.FrameInfo.bmiHeader.biWidth * Viewer.FrameInfo.bmiHeader.biHeight, 960 * 540);
  Prepare(101, 51, 1);
  const FrameBufferInfo want = {{40, 50, 25, 1, 32, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0}};
  EXPECT_EQ(std::memcmp(&Viewer.FrameInfo, &want, sizeof want), 0);
  ResetViewerState();
}
