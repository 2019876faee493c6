// Colour tables and the colour options stage. Every table is its formula in IEEE double, left to
// right, uncontracted: the order of every product and sum is part of the result, and keeps Linux
// and 32-bit Windows agreeing on every code the viewer shows.
#include "colour/colour.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/heap.h"
#include "platform/workers.h"

int32_t NarrowToFullTable[1024];
double LinearTable[256];
double DecisionTable[256];
int32_t HdrToSdrTable[256];

// The stage's tables; docs/bt709_tables.md shows why they give the conversion's codes exactly.
Bt709ProductTable Bt709Products[2];
uint8_t ScaledLightBucketCode[2 * kLightBucketLimit];
double ScaledBoundaryAbove[256];

namespace {

// The double nearest 1/0.45, as exact bits no compiler's decimal conversion can move.
constexpr double kBt2020Exponent = 0x1.1c71c71c71c72p+1;  // 2.2222222222222223

// HLG (BT.2100): a, b, and 4a, whose logarithm gives c.
constexpr double kHlgA = 0.17883277;
constexpr double kHlgB = 0.28466892;
constexpr double kHlgFourA = 0.71533108;

double DecodeBt2020(double x) {
  if (x < 0.08145) return x / 4.5;
  return std::pow((x + 0.0993) / 1.0993, kBt2020Exponent);
}

int32_t TruncateToByte(double v) {
  const int32_t t = static_cast<int32_t>(v);
  return t < 0 ? 0 : (t > 255 ? 255 : t);
}

// One lookup per set of products, kept for the run: toggling tone mapping never refills one.
constexpr size_t kLookupEntries = size_t(1) << 24;
uint32_t* Bt709Lookups[2] = {};
bool Bt709LookupFilled[2] = {};

// This part's reds. The red-and-green sums are the conversion's own first operations, so taking
// them out of the loop over blue moves no bit.
void FillBt709Lookup(void* context, int32_t part, int32_t parts) {
  const int32_t set = *static_cast<const int32_t*>(context);
  const Bt709ProductTable& p = Bt709Products[set];
  for (int32_t r = 256 * part / parts; r < 256 * (part + 1) / parts; ++r) {
    for (int32_t g = 0; g < 256; ++g) {
      const double red = p.RedOfRed[r] - p.RedOfGreen[g];
      const double green = p.GreenOfGreen[g] - p.GreenOfRed[r];
      const double blueOfRedGreen = p.BlueOfRed[r] + p.BlueOfGreen[g];
      uint32_t* const out = Bt709Lookups[set] + (size_t(r) << 16 | size_t(g) << 8);
      for (int32_t b = 0; b < 256; ++b) {
        out[b] = uint32_t(EncodeScaledLight(p.BlueOfBlue[b] - blueOfRedGreen)) |
                 uint32_t(EncodeScaledLight(green - p.GreenOfBlue[b])) << 8 |
                 uint32_t(EncodeScaledLight(red - p.RedOfBlue[b])) << 16;
      }
    }
  }
}

// The stage pixel by pixel, where there is no lookup.
template <bool kHdrToSdr, bool kBt709>
void ApplyToEachPixel(uint8_t* at, const uint8_t* end) {
  for (; at != end; at += 4) {
    PixelTriple triple = {at[2], at[1], at[0]};
    ApplyColourOptions<kHdrToSdr, kBt709>(triple);
    at[0] = uint8_t(triple.B);
    at[1] = uint8_t(triple.G);
    at[2] = uint8_t(triple.R);
  }
}

}  // namespace

ColourStage PrepareColourStage(bool hdrToSdr, bool bt709) {
  ColourStage stage = {hdrToSdr, bt709, nullptr};
  if (!bt709) return stage;
  int32_t set = hdrToSdr ? 1 : 0;
  uint32_t*& lookup = Bt709Lookups[set];
  if (!Bt709LookupFilled[set]) {
    if (lookup == nullptr) {
      lookup = static_cast<uint32_t*>(PlatformAllocZeroed(kLookupEntries * sizeof(uint32_t)));
      if (lookup == nullptr) return stage;
    }
    PlatformRunWorkers(FillBt709Lookup, &set, PlatformWorkerCount());
    Bt709LookupFilled[set] = true;
  }
  stage.Lookup = lookup;
  return stage;
}

// Pixels as little-endian 32-bit words (every build is x86): B | G << 8 | R << 16 | fourth << 24.
void ApplyColourStage(const ColourStage& stage, uint8_t* pixels, int32_t count) {
  uint8_t* const end = pixels + size_t(count) * 4;
  if (stage.Lookup != nullptr) {
    const auto convert = [&stage](uint8_t* at) {
      uint32_t pixel;
      std::memcpy(&pixel, at, 4);
      pixel = stage.Lookup[pixel & 0xFFFFFF] | (pixel & 0xFF000000);
      std::memcpy(at, &pixel, 4);
    };
    // Neighbouring pixels land far apart in the lookup: prefetching ahead overlaps the misses.
    constexpr int32_t kAhead = 32;
    uint8_t* at = pixels;
    for (; end - at > 4 * kAhead; at += 4) {
      uint32_t ahead;
      std::memcpy(&ahead, at + 4 * kAhead, 4);
      __builtin_prefetch(stage.Lookup + (ahead & 0xFFFFFF));
      convert(at);
    }
    for (; at != end; at += 4) convert(at);
    return;
  }
  if (stage.Bt709) {
    stage.HdrToSdr ? ApplyToEachPixel<true, true>(pixels, end)
                   : ApplyToEachPixel<false, true>(pixels, end);
  } else if (stage.HdrToSdr) {
    ApplyToEachPixel<true, false>(pixels, end);
  }
}

void BuildColourTables() {
  Bt709LookupFilled[0] = Bt709LookupFilled[1] = false;
  const double hlgC = 0.5 - kHlgA * std::log(kHlgFourA);  // about 0.55991073

  // The boundary of code i is the light halfway (in code) between i - 1 and i.
  for (int32_t i = 0; i < 256; ++i) {
    LinearTable[i] = DecodeBt2020(i / 255.0);
    DecisionTable[i] = DecodeBt2020((i - 0.5) / 255.0);
  }

  // The halfway codes 210, 502 and 794 land exactly on .5 and round up (43, 128, 213).
  for (int32_t j = 0; j < 1024; ++j) {
    NarrowToFullTable[j] =
        TruncateToByte(double(j - kNarrowBlack10) / double(kNarrowSpan10) * 255.0 + 0.5);
  }

  // The HLG inverse OETF, then SDR with a knee above 0.9.
  for (int32_t k = 0; k < 256; ++k) {
    const double x = k / 255.0;
    const double e = x <= 0.5 ? x * x / 3.0 : (std::exp((x - hlgC) / kHlgA) + kHlgB) / 12.0;
    double y = std::sqrt(e / 0.265);
    if (y > 0.9) y = (y - 0.9) * 0.5 + 0.9;
    HdrToSdrTable[k] = TruncateToByte(y * 255.0 + 0.5);
  }

  for (int32_t set = 0; set < 2; ++set) {
    Bt709ProductTable& p = Bt709Products[set];
    for (int32_t k = 0; k < 256; ++k) {
      const double x = LinearTable[set == 0 ? k : HdrToSdrTable[k]];
      p.RedOfRed[k] = (1.6605 * x) * kLightScale;
      p.RedOfGreen[k] = (0.5876 * x) * kLightScale;
      p.RedOfBlue[k] = (0.0729 * x) * kLightScale;
      p.GreenOfGreen[k] = (1.1328 * x) * kLightScale;
      p.GreenOfRed[k] = (0.1244 * x) * kLightScale;
      p.GreenOfBlue[k] = (0.0084 * x) * kLightScale;
      p.BlueOfBlue[k] = (1.1188 * x) * kLightScale;
      p.BlueOfRed[k] = (0.0181 * x) * kLightScale;
      p.BlueOfGreen[k] = (0.1006 * x) * kLightScale;
    }
  }

  for (int32_t i = 0; i < 255; ++i) ScaledBoundaryAbove[i] = DecisionTable[i + 1] * kLightScale;
  ScaledBoundaryAbove[255] = std::numeric_limits<double>::infinity();

  // The number of boundaries at or below n: the code of bucket n's lowest light.
  int32_t code = 0;
  for (int32_t n = -kLightBucketLimit; n < kLightBucketLimit; ++n) {
    while (code < 255 && ScaledBoundaryAbove[code] <= n) ++code;
    ScaledLightBucketCode[n + kLightBucketLimit] = static_cast<uint8_t>(code);
  }
}
