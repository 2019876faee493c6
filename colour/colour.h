// The colour rules: BT.2020 YCbCr to RGB, the tables, and the colour options stage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/viewer_state.h"

struct PixelTriple {  // one pixel on its way into the bitmap: 8-bit codes
  int32_t R;
  int32_t G;
  int32_t B;
};

// BT.2020 narrow-range YCbCr to 10-bit-scale RGB: 255/219, 255/224 scaling, four decimals.
constexpr int32_t kYcbcrLumaOffset = 64;
constexpr int32_t kYcbcrChromaOffset = 512;
constexpr double kYcbcrLumaGain = 1.1644;
constexpr double kYcbcrRedFromCr = 1.6787;
constexpr double kYcbcrGreenFromCb = 0.1874;
constexpr double kYcbcrGreenFromCr = 0.6505;
constexpr double kYcbcrBlueFromCb = 2.1418;
constexpr int32_t kYcbcrFactorUnit = 10000;  // four decimals exactly, for integer kernels
constexpr int32_t YcbcrFactorUnits(double coefficient) {
  return int32_t(coefficient * kYcbcrFactorUnit + 0.5);
}

extern int32_t NarrowToFullTable[1024];  // 10-bit narrow-range code -> 8-bit full range
extern double LinearTable[256];          // 8-bit code -> linear light, BT.2020 curve
extern double DecisionTable[256];        // linear light of the boundary between codes i-1 and i
extern int32_t HdrToSdrTable[256];       // 8-bit HLG code -> 8-bit SDR code

void BuildColourTables();  // all of them, before the first frame

// The BT.709 conversion runs on tables derived from those that give exactly its codes in fewer
// steps (colour.cpp); a power-of-two scale of light moves no bit and makes truncation a bucket.
constexpr double kLightScale = 2048.0;
constexpr int32_t kLightBucketLimit = 3456;  // scaled light stays within +-1.6605 * 2048

// The conversion's nine products for each code, rounded as it rounds them, then scaled; set 1
// tone-maps the code first, so both options cost no more than the conversion alone.
struct Bt709ProductTable {
  double RedOfRed[256], RedOfGreen[256], RedOfBlue[256];        // 1.6605, 0.5876, 0.0729
  double GreenOfGreen[256], GreenOfRed[256], GreenOfBlue[256];  // 1.1328, 0.1244, 0.0084
  double BlueOfBlue[256], BlueOfRed[256], BlueOfGreen[256];     // 1.1188, 0.0181, 0.1006
};
extern Bt709ProductTable Bt709Products[2];

extern uint8_t ScaledLightBucketCode[2 * kLightBucketLimit];  // [n + limit]: bucket n's lowest code
extern double ScaledBoundaryAbove[256];  // scaled DecisionTable[code + 1]; infinity for 255

// A bucket holds at most one boundary: its code, one up past the boundary, is the bisection's.
inline int32_t EncodeScaledLight(double scaled) {
  const uint32_t code = ScaledLightBucketCode[static_cast<ptrdiff_t>(scaled) + kLightBucketLimit];
  return int32_t(code) + (ScaledBoundaryAbove[code] <= scaled ? 1 : 0);
}

inline void ConvertWithProducts(PixelTriple& triple, const Bt709ProductTable& products) {
  const int32_t r = triple.R;
  const int32_t g = triple.G;
  const int32_t b = triple.B;
  const Bt709ProductTable& p = products;  // the sums in exactly the conversion's order
  triple.R = EncodeScaledLight((p.RedOfRed[r] - p.RedOfGreen[g]) - p.RedOfBlue[b]);
  triple.G = EncodeScaledLight((p.GreenOfGreen[g] - p.GreenOfRed[r]) - p.GreenOfBlue[b]);
  triple.B = EncodeScaledLight(p.BlueOfBlue[b] - (p.BlueOfRed[r] + p.BlueOfGreen[g]));
}

// The stage as one frame runs it, settled before its rows decode.
struct ColourStage {
  bool HdrToSdr;
  bool Bt709;
  const uint32_t* Lookup;  // every triple's BT.709 pixel, B | G << 8 | R << 16; null: no memory
};

// Fills the conversion's lookup on every worker the first time a run asks for it.
ColourStage PrepareColourStage(bool hdrToSdr, bool bt709);

// Bitmap pixels (B, G, R, a kept fourth byte) in place, each as ApplyColourOptions has it.
void ApplyColourStage(const ColourStage& stage, uint8_t* pixels, int32_t count);

// The stage's definition: tone mapping, then the conversion, each when its (template) flag is on.
template <bool kHdrToSdr, bool kBt709>
inline void ApplyColourOptions(PixelTriple& triple) {
  if (kBt709) {
    ConvertWithProducts(triple, Bt709Products[kHdrToSdr ? 1 : 0]);
  } else if (kHdrToSdr) {
    triple.R = HdrToSdrTable[triple.R];
    triple.G = HdrToSdrTable[triple.G];
    triple.B = HdrToSdrTable[triple.B];
  }
}

// The narrow-range rule of NarrowToFullTable: 10-bit codes kNarrowBlack10..kNarrowWhite10 onto
// 0..255, rounded half up. Vector kernels compute it as ((code + kNarrowToFullAdd) *
// kNarrowToFullScale >> 16) - kNarrowToFullBias, clamped; the tests check every 10-bit code.
constexpr int32_t kNarrowBlack10 = 64;
constexpr int32_t kNarrowWhite10 = 940;
constexpr int64_t kNarrowSpan10 = kNarrowWhite10 - kNarrowBlack10;
constexpr int32_t kNarrowToFullScale = int32_t((int64_t(255) << 16) / kNarrowSpan10);
constexpr int32_t kNarrowToFullBias =
    int32_t((kNarrowBlack10 * 255 + kNarrowSpan10 - 1) / kNarrowSpan10);
// The code offset that puts the rounding half step and the bias's excess into the product.
constexpr int64_t kNarrowToFullAddTimes2 =
    (((2 * kNarrowToFullBias + 1) * kNarrowSpan10 - 2 * kNarrowBlack10 * 255) << 16) /
    (kNarrowToFullScale * kNarrowSpan10);
constexpr int32_t kNarrowToFullAdd = int32_t((kNarrowToFullAddTimes2 + 1) / 2);
