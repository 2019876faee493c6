// The colour tables and the colour options stage against a model of the conversion.
#include "colour/colour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/workers.h"

namespace {

// BT.2020 -> BT.709 through linear light, re-encoded by bisection: the highest code whose
// boundary the light reaches, so light on a boundary goes to the upper code. The curves and the
// tone map are the tables themselves, pinned by the checksum below.
int32_t Encode(double light) {
  int32_t code = 0;
  for (int32_t step = 128; step > 0; step /= 2) {
    if (DecisionTable[code + step] <= light) code += step;
  }
  return code;
}
PixelTriple Convert(PixelTriple p) {
  const double r = LinearTable[p.R], g = LinearTable[p.G], b = LinearTable[p.B];
  return {Encode((1.6605 * r - 0.5876 * g) - 0.0729 * b),
          Encode((1.1328 * g - 0.1244 * r) - 0.0084 * b),
          Encode(1.1188 * b - (0.0181 * r + 0.1006 * g))};
}

// One sweep over all 2^24 triples under the four option combinations. The checksum pins the
// tables and every conversion to one constant that the Linux and the Windows build must both
// give. Their pow functions differ in the last bit (DecisionTable[198]) where no pixel depends on
// it, so the curves go in rounded to 2^-32, a step no such wobble can cross (checked below).
TEST(Colour, EveryTripleUnderEveryOptionMatchesTheModelAndTheChecksum) {
  BuildColourTables();
  const auto Pack = [](const PixelTriple& p) { return uint32_t(p.R << 16 | p.G << 8 | p.B); };
  uint64_t hash = 14695981039346656037ull;  // FNV-1a, a word at a time
  const auto add = [&hash](uint64_t v) { hash = (hash ^ v) * 1099511628211ull; };
  for (int32_t v : NarrowToFullTable) add(uint32_t(v));  // halfway codes 210, 502, 794 round up
  for (int32_t i = 0; i < 256; ++i) {
    for (const double v : {LinearTable[i], DecisionTable[i]}) {
      const auto fixed = [](double x) { return std::llround(x * 4294967296.0); };
      const double up = std::nextafter(std::nextafter(v, 2.0), 2.0);
      const double down = std::nextafter(std::nextafter(v, -2.0), -2.0);
      EXPECT_EQ(fixed(up), fixed(down)) << "entry " << i << " too near a step of 2^-32";
      add(uint64_t(fixed(v)));
    }
    add(uint32_t(HdrToSdrTable[i]));
  }
  int64_t mismatches = 0;
  for (int32_t n = 0; n < (1 << 24); ++n) {
    const PixelTriple in{n >> 16, (n >> 8) & 255, n & 255};
    const PixelTriple sdr{HdrToSdrTable[in.R], HdrToSdrTable[in.G], HdrToSdrTable[in.B]};
    PixelTriple out[5] = {in, in, in, in, sdr};
    ApplyColourOptions<false, false>(out[0]);
    ApplyColourOptions<true, false>(out[1]);
    ApplyColourOptions<false, true>(out[2]);
    ApplyColourOptions<true, true>(out[3]);
    ApplyColourOptions<false, true>(out[4]);
    add(uint64_t(Pack(out[2])) << 32 | Pack(out[3]));
    // Both options convert the tone-mapped codes: the model's answer is the conversion's at the
    // tone-mapped triple (out[4]), which this same sweep holds to the model there.
    const uint32_t want[4] = {Pack(in), Pack(sdr), Pack(Convert(in)), Pack(out[4])};
    for (int k = 0; k < 4; ++k) {
      if (Pack(out[k]) == want[k] || ++mismatches > 10) continue;
      ADD_FAILURE() << std::hex << n << ", options " << k << ": " << Pack(out[k]) << " not "
                    << want[k];
    }
    // Greys are the same light in both gamuts: the conversion leaves them alone.
    EXPECT_TRUE(in.R != in.G || in.G != in.B || Pack(out[2]) == uint32_t(n)) << "grey " << in.R;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(hash, 0x16d3ac34fc9dc139ull);
}

// The stage over a bitmap that holds every triple once, each fourth byte marked: under each
// combination of the options every pixel is what ApplyColourOptions makes of it, from the lookup
// and pixel by pixel without it. Three workers fill the lookups, so their reds split unevenly,
// and the combinations come in an order that returns to a lookup filled before.
TEST(ColourStage, EveryTripleComesOutAsTheStageDefinesIt) {
  BuildColourTables();
  ASSERT_EQ(PlatformStartWorkers(3), 3);
  constexpr size_t kPixels = size_t(1) << 24;
  std::vector<uint32_t> want(kPixels);
  std::vector<uint8_t> bitmap(kPixels * 4);
  for (const int options : {0, 2, 3, 1, 2}) {  // bit 0 HdrToSdr, bit 1 Bt709
    for (uint32_t n = 0; n < kPixels; ++n) {
      PixelTriple p{int32_t(n >> 16), int32_t(n >> 8 & 255), int32_t(n & 255)};
      if (options == 1) ApplyColourOptions<true, false>(p);
      if (options == 2) ApplyColourOptions<false, true>(p);
      if (options == 3) ApplyColourOptions<true, true>(p);
      want[n] = uint32_t(p.B | p.G << 8 | p.R << 16) | (n * 7 & 255) << 24;
    }
    ColourStage stage = PrepareColourStage((options & 1) != 0, (options & 2) != 0);
    EXPECT_EQ(stage.Lookup != nullptr, options >= 2);
    for (const bool withLookup : {true, false}) {
      if (!withLookup) stage.Lookup = nullptr;
      for (uint32_t n = 0; n < kPixels; ++n) {
        const uint8_t pixel[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n * 7)};
        std::memcpy(&bitmap[size_t(n) * 4], pixel, 4);
      }
      // Rows of an odd length; the last, 81 pixels, ends where the buffer ends.
      for (size_t at = 0; at < kPixels; at += 4087) {
        ApplyColourStage(stage, &bitmap[at * 4], int32_t(std::min<size_t>(4087, kPixels - at)));
      }
      int64_t mismatches = 0;
      for (uint32_t n = 0; n < kPixels; ++n) {
        uint32_t got;
        std::memcpy(&got, &bitmap[size_t(n) * 4], 4);
        if (got == want[n] || ++mismatches > 10) continue;
        ADD_FAILURE() << std::hex << "options " << options << (withLookup ? " lookup " : " ")
                      << "triple " << n << ": " << got << " not " << want[n];
      }
      EXPECT_EQ(mismatches, 0) << "options " << options << (withLookup ? " with lookup" : "");
    }
  }
  PlatformStopWorkers();
}

// No triple's light lands exactly on a boundary (blue of (20, 12, 9) comes nearest, one unit in
// the last place below boundary 9), so the rule that it goes to the upper code is checked by
// planting each boundary's light, and the light just below, as the red product of code 1.
TEST(Colour, LightOnABoundaryGoesToTheUpperCode) {
  BuildColourTables();
  for (int32_t i = 1; i < 256; ++i) {
    for (const double light : {DecisionTable[i], std::nextafter(DecisionTable[i], -1.0)}) {
      Bt709Products[0].RedOfRed[1] = light * kLightScale;
      PixelTriple p{1, 0, 0};
      ApplyColourOptions<false, true>(p);
      EXPECT_EQ(p.R, light == DecisionTable[i] ? i : i - 1) << "boundary " << i;
    }
  }
  BuildColourTables();
}

}  // namespace
