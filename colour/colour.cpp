// Colour tables and the per-pixel colour options stage.
//
// Every table is defined by its formula evaluated in IEEE double, left to right, with no
// contraction, so the order of every product and sum below is part of the result, not a matter
// of style: Linux and 32-bit Windows then agree bit for bit except where their C libraries'
// pow differs in the last place (DecisionTable[198]), which moves no code the viewer shows.
#include "colour/colour.h"

#include <cmath>
#include <limits>

#include "core/viewer_state.h"

int32_t NarrowToFullTable[1024];
double LinearTable[256];
double DecisionTable[256];
int32_t HdrToSdrTable[256];

namespace {

// The BT.2020 curve's exponent is the double nearest 1/0.45; written as its exact bits so no
// compiler's decimal conversion or division can move it.
constexpr double kBt2020Exponent = 0x1.1c71c71c71c72p+1;  // 2.2222222222222223

// HLG constants (BT.2100): a, b, and 4a, whose logarithm gives c.
constexpr double kHlgA = 0.17883277;
constexpr double kHlgB = 0.28466892;
constexpr double kHlgFourA = 0.71533108;

// Re-encoding linear light to a code is, by definition, a bisection over DecisionTable: eight
// unpredictable comparisons per channel, which made the conversion four times slower than the
// lookup used instead. Linear light in [0, 1) is cut into 2048 equal buckets and BucketCode holds
// the code of each bucket's lower edge. Neighbouring boundaries lie at least 1 / (255 * 4.5) apart
// (on the curve's straight segment, where it is flattest), more than one bucket width, so a bucket
// holds at most one boundary and one comparison against the next boundary gives exactly the
// bisection's answer. v * 2048 is exact (a power of two), so the bucket index never rounds across
// an edge.
constexpr int32_t kBucketCount = 2048;
constexpr double kBucketsPerUnit = 2048.0;
uint8_t BucketCode[kBucketCount];
// NextBoundary[i] = DecisionTable[i + 1]; infinity past code 255 so the top code never steps up.
double NextBoundary[256];

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

// The largest code i in 1..255 with DecisionTable[i] <= v, or 0: the nearest code on the
// BT.2020 curve, a value exactly on a boundary going up.
inline int32_t EncodeLinear(double v) {
  int32_t bucket = static_cast<int32_t>(v * kBucketsPerUnit);
  // Negative light lands in bucket 0 (code 0, and below its next boundary); light of 1 and
  // more lands in the last bucket, whose code is already 255.
  bucket = bucket < 0 ? 0 : bucket;
  bucket = bucket > kBucketCount - 1 ? kBucketCount - 1 : bucket;
  const int32_t code = BucketCode[bucket];
  return code + (NextBoundary[code] <= v ? 1 : 0);
}

}  // namespace

void BuildColourTables() {
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

  // BucketCode[n] = the code of linear light n / 2048, walked up boundary by boundary.
  int32_t code = 0;
  for (int32_t n = 0; n < kBucketCount; ++n) {
    const double edge = n / kBucketsPerUnit;
    while (code < 255 && DecisionTable[code + 1] <= edge) ++code;
    BucketCode[n] = static_cast<uint8_t>(code);
  }
  for (int32_t i = 0; i < 255; ++i) NextBoundary[i] = DecisionTable[i + 1];
  NextBoundary[255] = std::numeric_limits<double>::infinity();
}

int32_t EncodeLinearLight(double v) {
  return EncodeLinear(v);
}

void ConvertBt2020ToBt709(PixelTriple& triple) {
  const double r = LinearTable[triple.R];
  const double g = LinearTable[triple.G];
  const double b = LinearTable[triple.B];
  // Every product rounds on its own and the sums go in exactly this order.
  const double r709 = (1.6605 * r - 0.5876 * g) - 0.0729 * b;
  const double g709 = (1.1328 * g - 0.1244 * r) - 0.0084 * b;
  const double b709 = 1.1188 * b - (0.0181 * r + 0.1006 * g);
  triple.R = EncodeLinear(r709);
  triple.G = EncodeLinear(g709);
  triple.B = EncodeLinear(b709);
}

void ApplyColourOptions(PixelTriple& triple) {
  // The flags are read for every pixel: a menu toggle followed by a reload must show at once.
  if (Viewer.HdrToSdr) {
    triple.R = HdrToSdrTable[triple.R];
    triple.G = HdrToSdrTable[triple.G];
    triple.B = HdrToSdrTable[triple.B];
  }
  if (Viewer.Bt709) ConvertBt2020ToBt709(triple);
}
