// Colour tables, the BT.2020-to-BT.709 conversion and the colour options stage.
#include "colour/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <ostream>

#include "core/viewer_state.h"

// Outside the unnamed namespace so that GoogleTest's comparisons find them by argument lookup.
static bool operator==(const PixelTriple& a, const PixelTriple& b) {
  return a.R == b.R && a.G == b.G && a.B == b.B;
}

static std::ostream& operator<<(std::ostream& out, const PixelTriple& p) {
  return out << "(" << p.R << ", " << p.G << ", " << p.B << ")";
}

namespace {

// The re-encoding as first defined: seven halving steps over DecisionTable from code 128, then
// one last step down. The viewer's faster lookup must agree with it everywhere.
int32_t NaiveEncode(double v) {
  int32_t e = 128;
  for (int32_t s = 64; s >= 1; s /= 2) e += DecisionTable[e] > v ? -s : s;
  if (DecisionTable[e] > v) --e;
  return e;
}

// The conversion written straight from its formulas, with the naive re-encoding.
PixelTriple NaiveConvert(PixelTriple p) {
  const double r = LinearTable[p.R];
  const double g = LinearTable[p.G];
  const double b = LinearTable[p.B];
  return {NaiveEncode((1.6605 * r - 0.5876 * g) - 0.0729 * b),
          NaiveEncode((1.1328 * g - 0.1244 * r) - 0.0084 * b),
          NaiveEncode(1.1188 * b - (0.0181 * r + 0.1006 * g))};
}

PixelTriple Convert(PixelTriple p) {
  ConvertBt2020ToBt709(p);
  return p;
}

PixelTriple Apply(PixelTriple p) {
  ApplyColourOptions(p);
  return p;
}

template <bool kHdrToSdr, bool kBt709>
PixelTriple ApplyFixed(PixelTriple p) {
  ApplyFixedColourOptions<kHdrToSdr, kBt709>(p);
  return p;
}

struct Fnv1a64 {
  uint64_t hash = 14695981039346656037ull;
  void Byte(uint8_t b) { hash = (hash ^ b) * 1099511628211ull; }
  void Little(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) Byte(uint8_t(v >> (8 * i)));
  }
};

TEST(ColourTables, NarrowRangeCodesMapToFullRangeBytes) {
  BuildColourTables();
  const struct {
    int32_t code;
    int32_t full;
  } cases[] = {
      {0, 0},       // far below black clamps
      {63, 0},      // just below narrow black
      {64, 0},      // narrow black
      {65, 0},      // 0.29 rounds down
      {66, 1},      // first code above black
      {67, 1},      // 1.37 rounds down
      {210, 43},    // exactly halfway; this evaluation order rounds it up
      {502, 128},   // exactly halfway; this evaluation order rounds it up
      {512, 130},   // middle of the 10-bit range
      {794, 213},   // exactly halfway; this evaluation order rounds it up
      {938, 254},   // just below white
      {939, 255},   // rounds up to white
      {940, 255},   // narrow white
      {1023, 255},  // far above white clamps
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NarrowToFullTable[c.code], c.full) << "code " << c.code;
  }
  for (int32_t j = 1; j < 1024; ++j) {
    EXPECT_GE(NarrowToFullTable[j], NarrowToFullTable[j - 1]) << "code " << j;
  }
}

TEST(ColourTables, HlgToneCurveRisesToWhiteAt201) {
  BuildColourTables();
  const struct {
    int32_t hlg;
    int32_t sdr;
  } cases[] = {
      {0, 0},      // black stays black
      {1, 1},      // the square-law foot
      {32, 36},    // shadows lift a little
      {64, 72},    // shadows
      {128, 144},  // first code of the exponential half
      {160, 189},  // mid highlights, still below the knee
      {191, 242},  // above the knee, just below reference white
      {192, 243},  // just above reference white, compressed by the knee
      {200, 254},  // last code below white
      {201, 255},  // first code that saturates
      {255, 255},  // HLG peak
  };
  for (const auto& c : cases) EXPECT_EQ(HdrToSdrTable[c.hlg], c.sdr) << "code " << c.hlg;
  for (int32_t k = 1; k < 256; ++k) {
    EXPECT_GE(HdrToSdrTable[k], HdrToSdrTable[k - 1]) << "code " << k;
  }
}

TEST(ColourTables, LinearLightRisesStrictlyFromBlackToWhite) {
  BuildColourTables();
  EXPECT_EQ(LinearTable[0], 0.0);
  EXPECT_EQ(LinearTable[255], 1.0);
  EXPECT_EQ(DecisionTable[0], -0.5 / 255.0 / 4.5);
  for (int32_t i = 1; i < 256; ++i) {
    EXPECT_LT(LinearTable[i - 1], LinearTable[i]) << "code " << i;
    EXPECT_LT(DecisionTable[i - 1], DecisionTable[i]) << "code " << i;
    // Every boundary lies between the two codes it separates.
    EXPECT_LT(LinearTable[i - 1], DecisionTable[i]) << "code " << i;
    EXPECT_LT(DecisionTable[i], LinearTable[i]) << "code " << i;
  }
}

// The curves bit for bit as written: this platform's pow, the exponent nearest 1/0.45, the
// straight segment below 0.08145.
TEST(ColourTables, CurvesFollowTheBt2020FormulaExactly) {
  BuildColourTables();
  const auto decode = [](double x) {
    return x < 0.08145 ? x / 4.5 : std::pow((x + 0.0993) / 1.0993, 2.2222222222222223);
  };
  for (int32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(LinearTable[i], decode(i / 255.0)) << "code " << i;
    EXPECT_EQ(DecisionTable[i], decode((i - 0.5) / 255.0)) << "boundary " << i;
  }
}

TEST(ColourConversion, GreysAndGamutCornersStayPut) {
  BuildColourTables();
  for (int32_t v = 0; v < 256; ++v) {
    EXPECT_EQ(Convert({v, v, v}), (PixelTriple{v, v, v})) << "grey " << v;
  }
  const PixelTriple corners[] = {
      {255, 0, 0},    // red
      {0, 255, 0},    // green
      {0, 0, 255},    // blue
      {255, 255, 0},  // yellow
  };
  for (const auto& c : corners) EXPECT_EQ(Convert(c), c);
}

TEST(ColourConversion, ColoursMoveToBt709Primaries) {
  BuildColourTables();
  const struct {
    PixelTriple in, out;
  } cases[] = {
      {{128, 64, 32}, {157, 52, 23}},      // warm tone grows more saturated
      {{128, 120, 110}, {134, 119, 109}},  // near-grey moves a little
      {{50, 100, 200}, {0, 103, 209}},     // red goes negative and clamps to 0
      {{0, 128, 0}, {0, 137, 0}},          // pure mid green: red and blue negative
  };
  for (const auto& c : cases) EXPECT_EQ(Convert(c.in), c.out) << "from " << c.in;
}

// The fast lookup steps up at most once inside each of its buckets, so agreeing with the
// bisection on every boundary and just below it means agreeing for every light value.
TEST(ColourConversion, BoundaryLightGoesToTheUpperCode) {
  BuildColourTables();
  const double inf = std::numeric_limits<double>::infinity();
  for (int32_t i = 1; i < 256; ++i) {
    const double boundary = DecisionTable[i];
    const double below = std::nextafter(boundary, -inf);
    EXPECT_EQ(EncodeLinearLight(boundary), i) << "on boundary " << i;
    EXPECT_EQ(EncodeLinearLight(below), i - 1) << "just below boundary " << i;
    EXPECT_EQ(NaiveEncode(boundary), i) << "on boundary " << i;
    EXPECT_EQ(NaiveEncode(below), i - 1) << "just below boundary " << i;
  }
  const struct {
    double light;
    int32_t code;
  } cases[] = {
      {-0.6605, 0},                                   // most negative red from pure green
      {DecisionTable[0], 0},                          // the negative boundary below code 0
      {-0.0, 0},                                      // negative zero
      {0.0, 0},                                       // black
      {std::nextafter(0.0, 1.0), 0},                  // smallest light
      {LinearTable[255], 255},                        // white
      {std::nextafter(LinearTable[255], -inf), 255},  // just below white
      {1.6605, 255},                                  // brightest red from pure red light
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeLinearLight(c.light), c.code) << "light " << c.light;
    EXPECT_EQ(NaiveEncode(c.light), c.code) << "light " << c.light;
  }
}

// The exhaustive tests: optimised builds (Release, the Windows run) compare all 2^24 triples;
// unoptimised, sanitised builds take every seventh, which walks through every residue of each
// channel.
#ifdef NDEBUG
constexpr int32_t kTripleStride = 1;
#else
constexpr int32_t kTripleStride = 7;
#endif

TEST(ColourConversion, EveryTripleMatchesTheNaiveModel) {
  BuildColourTables();
  int64_t mismatches = 0;
  for (int32_t n = 0; n < (1 << 24); n += kTripleStride) {
    const PixelTriple in{n >> 16, (n >> 8) & 255, n & 255};
    const PixelTriple fast = Convert(in);
    const PixelTriple naive = NaiveConvert(in);
    if (!(fast == naive) && ++mismatches <= 10) {
      ADD_FAILURE() << in << " gives " << fast << ", naive " << naive;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Only the conversion's own range reaches the lookup from the stage; anything else asking for a
// code gets the end it lies beyond.
TEST(ColourConversion, LightFarOutsideTheRangeGoesToTheEnds) {
  BuildColourTables();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double light;
    int32_t code;
  } cases[] = {
      {1e9, 255},                                     // far above white
      {inf, 255},                                     // infinitely bright
      {-1e9, 0},                                      // far below black
      {-inf, 0},                                      // infinitely dark
      {std::numeric_limits<double>::quiet_NaN(), 0},  // no light at all, never outside the table
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeLinearLight(c.light), c.code) << c.light;
}

// With both options on, the stage converts codes that are tone-mapped first; it must give what
// the naive conversion gives for the tone-mapped codes, for every triple (every seventh when
// unoptimised and sanitised).
TEST(ColourOptions, EveryTripleWithBothOptionsMatchesTheNaiveModel) {
  BuildColourTables();
  ResetViewerState();
  Viewer.HdrToSdr = 1;
  Viewer.Bt709 = 1;
  int64_t mismatches = 0;
  for (int32_t n = 0; n < (1 << 24); n += kTripleStride) {
    const PixelTriple in{n >> 16, (n >> 8) & 255, n & 255};
    const PixelTriple staged = Apply(in);
    const PixelTriple naive =
        NaiveConvert({HdrToSdrTable[in.R], HdrToSdrTable[in.G], HdrToSdrTable[in.B]});
    if (!(staged == naive) && ++mismatches <= 10) {
      ADD_FAILURE() << in << " gives " << staged << ", naive " << naive;
    }
  }
  EXPECT_EQ(mismatches, 0);
  ResetViewerState();
}

// The readers run the stage with the flags fixed for a frame; each combination must show what
// the stage shows with those flags set.
TEST(ColourOptions, FixedFlagsGiveWhatTheFlagsGive) {
  BuildColourTables();
  const struct {
    int32_t hdrToSdr, bt709;
    PixelTriple (*fixed)(PixelTriple);
  } combinations[] = {
      {0, 0, ApplyFixed<false, false>},  // both off
      {1, 0, ApplyFixed<true, false>},   // tone mapping only
      {0, 1, ApplyFixed<false, true>},   // gamut conversion only
      {1, 1, ApplyFixed<true, true>},    // both, tone mapping first
  };
  for (const auto& c : combinations) {
    ResetViewerState();
    Viewer.HdrToSdr = c.hdrToSdr;
    Viewer.Bt709 = c.bt709;
    int64_t mismatches = 0;
    // Every red and green with a spread of blues, saturated and negative light included.
    for (int32_t n = 0; n < (1 << 24); n += 97) {
      const PixelTriple in{n >> 16, (n >> 8) & 255, n & 255};
      if (!(c.fixed(in) == Apply(in)) && ++mismatches <= 5) {
        ADD_FAILURE() << "flags " << c.hdrToSdr << c.bt709 << " from " << in;
      }
    }
    EXPECT_EQ(mismatches, 0) << "flags " << c.hdrToSdr << c.bt709;
  }
  ResetViewerState();
}

TEST(ColourOptions, FlagsChooseToneMappingAndGamutConversion) {
  BuildColourTables();
  const struct {
    int32_t hdrToSdr, bt709;
    PixelTriple in, out;
  } cases[] = {
      {0, 0, {191, 120, 60}, {191, 120, 60}},    // both off: untouched
      {0, 0, {255, 0, 7}, {255, 0, 7}},          // both off: untouched, any code
      {1, 0, {191, 120, 60}, {242, 135, 67}},    // tone mapping only
      {0, 1, {128, 64, 32}, {157, 52, 23}},      // gamut conversion only
      {1, 1, {191, 120, 60}, {255, 115, 47}},    // tone mapping first, then gamut
      {1, 1, {210, 210, 210}, {255, 255, 255}},  // saturated grey stays white
  };
  for (const auto& c : cases) {
    ResetViewerState();
    Viewer.HdrToSdr = c.hdrToSdr;
    Viewer.Bt709 = c.bt709;
    EXPECT_EQ(Apply(c.in), c.out) << "flags " << c.hdrToSdr << c.bt709 << " from " << c.in;
  }
  ResetViewerState();
}

// Linear light in units of 2^-32. The C libraries' pow functions differ in the last bit (glibc
// and mingw-w64 disagree on DecisionTable[198], and dozens of entries lie within a hundredth of
// a unit in the last place of a rounding midpoint), so the checksum takes the curves at a
// precision that such a wobble cannot move, and the loop proves it for every entry.
int64_t FixedPoint(double light) {
  return std::llround(light * 4294967296.0);
}

// Pins the integer tables, the curves and every conversion result: the same constant comes out
// of the Linux and the Windows build, so both show the same pictures.
TEST(ColourChecksum, TablesAndAllConversionsMatchTheReference) {
  BuildColourTables();
  const double inf = std::numeric_limits<double>::infinity();
  Fnv1a64 fnv;
  for (int32_t v : NarrowToFullTable) fnv.Little(uint32_t(v), 4);
  for (const double* curve : {LinearTable, DecisionTable}) {
    for (int32_t i = 0; i < 256; ++i) {
      const double v = curve[i];
      const double twoUp = std::nextafter(std::nextafter(v, inf), inf);
      const double twoDown = std::nextafter(std::nextafter(v, -inf), -inf);
      EXPECT_EQ(FixedPoint(twoUp), FixedPoint(twoDown)) << "entry " << i << " too near a step";
      fnv.Little(uint64_t(FixedPoint(v)), 8);
    }
  }
  for (int32_t v : HdrToSdrTable) fnv.Little(uint32_t(v), 4);
  for (int32_t r = 0; r < 256; ++r) {
    for (int32_t g = 0; g < 256; ++g) {
      for (int32_t b = 0; b < 256; ++b) {
        const PixelTriple out = Convert({r, g, b});
        fnv.Byte(uint8_t(out.R));
        fnv.Byte(uint8_t(out.G));
        fnv.Byte(uint8_t(out.B));
      }
    }
  }
  EXPECT_EQ(fnv.hash, 0x828c3a87c3b95071ull);
}

}  // namespace
