// Colour tables and the colour options stage.
//
// Every table is defined by its formula evaluated in IEEE double, left to right, with no
// contraction, so the order of every product and sum below is part of the result, not a matter
// of style: Linux and 32-bit Windows then agree bit for bit except where their C libraries'
// pow differs in the last place (DecisionTable[198]), which moves no code the viewer shows.
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

// The stage's tables (colour.h). Why they give the conversion's codes exactly:
//
// Products. The conversion rounds each of its nine products on its own, so taking a product
// from a table filled with the same multiplication gives the same double. Set 1 looks the code
// up in HdrToSdrTable first, which is what the stage does before converting when both options
// are on.
//
// Scale. Multiplying by 2048 is exact here (every value is 0 or far above the smallest normal
// double), and IEEE rounding commutes with a power of two, so every scaled sum is exactly 2048
// times the conversion's sum, and comparing against 2048 times a boundary decides as the
// unscaled comparison does.
//
// Re-encoding. By definition it is a bisection over DecisionTable: eight unpredictable
// comparisons per channel, which made the conversion four times slower than this lookup.
// Scaled light is cut into buckets of width 1, that is 1/2048 of linear light. Neighbouring
// boundaries lie at least 1 / (255 * 4.5) apart (on the curve's straight segment, where it is
// flattest), more than one bucket, so a bucket holds at most one boundary: the code of its
// lowest light, plus one if the light reaches the next boundary, is the bisection's answer.
Bt709ProductTable Bt709Products[2];
uint8_t ScaledLightBucketCode[2 * kLightBucketLimit];
double ScaledBoundaryAbove[256];

namespace {

// The BT.2020 curve's exponent is the double nearest 1/0.45; written as its exact bits so no
// compiler's decimal conversion or division can move it.
constexpr double kBt2020Exponent = 0x1.1c71c71c71c72p+1;  // 2.2222222222222223

// HLG constants (BT.2100): a, b, and 4a, whose logarithm gives c.
constexpr double kHlgA = 0.17883277;
constexpr double kHlgB = 0.28466892;
constexpr double kHlgFourA = 0.71533108;

// BT.2020 non-linear value -> linear light.
double DecodeBt2020(double x) {
  if (x < 0.08145) return x / 4.5;
  return std::pow((x + 0.0993) / 1.0993, kBt2020Exponent);
}

// Truncation toward zero, then clamped to a byte.
int32_t ToByte(double v) {
  const int32_t t = static_cast<int32_t>(v);
  return t < 0 ? 0 : (t > 255 ? 255 : t);
}

// Every triple's BT.709 pixel, one lookup for each set of products: 2^24 entries of 4 bytes,
// allocated and filled the first time the options ask for that set, and kept for the rest of the
// run, so toggling tone mapping with the conversion on never fills one again.
constexpr size_t kLookupEntries = size_t(1) << 24;
uint32_t* Bt709Lookups[2] = {};
bool Bt709LookupFilled[2] = {};

// Reds 256 * part / parts up to the next part's first, every green and blue. The sums of red and
// green alone are the conversion's own first operations, in its order, so taking them out of the
// loop over blue moves no bit.
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

// The stage's definition for each pixel from `at` up to `end`, for a combination without the
// lookup (tone mapping alone, or the conversion when there was no memory for its lookup).
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
    // Neighbouring pixels of varied footage land far apart in the lookup: asking for the entry
    // of the pixel kAhead to the right before it is needed keeps more of those misses in flight.
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

  // LinearTable[i]   = F(i / 255)
  // DecisionTable[i] = F((i - 0.5) / 255), the light halfway (in code) between i - 1 and i
  // with F(x) = x / 4.5 below 0.08145, else ((x + 0.0993) / 1.0993) ^ (1 / 0.45)
  for (int32_t i = 0; i < 256; ++i) {
    LinearTable[i] = DecodeBt2020(i / 255.0);
    DecisionTable[i] = DecodeBt2020((i - 0.5) / 255.0);
  }

  // NarrowToFullTable[j] = byte((j * 0.25 - 16) / 219 * 255 + 0.5)
  // 10-bit narrow range 64..940 onto 0..255; the halfway codes 210, 502 and 794 round the way
  // this exact evaluation order rounds them (43, 128, 213).
  for (int32_t j = 0; j < 1024; ++j) {
    NarrowToFullTable[j] = ToByte((j * 0.25 - 16.0) / 219.0 * 255.0 + 0.5);
  }

  // HdrToSdrTable[k] = byte(y * 255 + 0.5), with x = k / 255,
  //   E = x * x / 3                         when x <= 0.5
  //   E = (exp((x - c) / a) + b) / 12       when x > 0.5   (HLG inverse OETF)
  //   y = sqrt(E / 0.265), then above 0.9 the knee y = (y - 0.9) * 0.5 + 0.9
  for (int32_t k = 0; k < 256; ++k) {
    const double x = k / 255.0;
    const double e = x <= 0.5 ? x * x / 3.0 : (std::exp((x - hlgC) / kHlgA) + kHlgB) / 12.0;
    double y = std::sqrt(e / 0.265);
    if (y > 0.9) y = (y - 0.9) * 0.5 + 0.9;
    HdrToSdrTable[k] = ToByte(y * 255.0 + 0.5);
  }

  // Bt709Products[s].XOfY[k] = (c * LinearTable[y]) * 2048 for each coefficient c of the
  // conversion, with y = k in set 0 and y = HdrToSdrTable[k] in set 1.
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

  // ScaledBoundaryAbove[i] = DecisionTable[i + 1] * 2048, and infinity for 255: nothing is
  // above the top code.
  for (int32_t i = 0; i < 255; ++i) ScaledBoundaryAbove[i] = DecisionTable[i + 1] * kLightScale;
  ScaledBoundaryAbove[255] = std::numeric_limits<double>::infinity();

  // ScaledLightBucketCode[n + limit] = the number of boundaries at or below n, walked up
  // boundary by boundary. That is the code of the bucket's lowest light: n itself above 0; below
  // it every boundary is positive and every code 0.
  int32_t code = 0;
  for (int32_t n = -kLightBucketLimit; n < kLightBucketLimit; ++n) {
    while (code < 255 && ScaledBoundaryAbove[code] <= n) ++code;
    ScaledLightBucketCode[n + kLightBucketLimit] = static_cast<uint8_t>(code);
  }
}
