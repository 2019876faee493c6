// Colour tables and the colour options stage that every shown pixel goes through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/viewer_state.h"

// One pixel on its way into the bitmap: 8-bit codes 0..255.
struct PixelTriple {
  int32_t R;
  int32_t G;
  int32_t B;
};

extern int32_t NarrowToFullTable[1024];  // 10-bit narrow-range code -> 8-bit full range
extern double LinearTable[256];          // 8-bit code -> linear light, BT.2020 curve
extern double DecisionTable[256];        // linear light of the boundary between codes i-1 and i
extern int32_t HdrToSdrTable[256];       // 8-bit HLG code -> 8-bit SDR code

// Fills the four tables, and the stage's tables below from them; runs once, before the first
// frame is decoded.
void BuildColourTables();

// The conversion runs for each of the 2^24 triples when its lookup is filled, and for every shown
// pixel when there is no lookup, so it is inline and works on tables derived from the four above
// that give exactly the same codes with fewer steps (colour.cpp says why they agree).

// Linear light is kept multiplied by 2048 (kLightScale), a power of two: every product, sum and
// comparison of the conversion comes out as exactly 2048 times its unscaled value, and
// truncating scaled light gives the re-encoding's bucket without a multiplication.
constexpr double kLightScale = 2048.0;
// Scaled light from the conversion stays within +-1.6605 * 2048 (at most 3401 away from 0).
constexpr int32_t kLightBucketLimit = 3456;

// The nine products of the conversion for each 8-bit code, each rounded as the conversion
// rounds it, then scaled. Set 0 takes the codes as they come; set 1 tone-maps them first, so
// both options on cost no more than the conversion alone.
struct Bt709ProductTable {
  double RedOfRed[256], RedOfGreen[256], RedOfBlue[256];        // 1.6605, 0.5876, 0.0729
  double GreenOfGreen[256], GreenOfRed[256], GreenOfBlue[256];  // 1.1328, 0.1244, 0.0084
  double BlueOfBlue[256], BlueOfRed[256], BlueOfGreen[256];     // 1.1188, 0.0181, 0.1006
};
extern Bt709ProductTable Bt709Products[2];

// Scaled light truncated toward zero is its bucket n; entry n + kLightBucketLimit holds the code
// of the bucket's lowest light. A bucket is narrower than the gap between two boundaries, so at
// most one more boundary can lie inside it.
extern uint8_t ScaledLightBucketCode[2 * kLightBucketLimit];
// kLightScale * DecisionTable[code + 1], the boundary just above each code; infinity for 255.
extern double ScaledBoundaryAbove[256];

// The re-encoding of scaled light: the bucket's code, one up if the light reaches the boundary
// above it. Exactly the bisection's answer (colour.cpp).
inline int32_t EncodeScaledLight(double scaled) {
  const uint32_t code = ScaledLightBucketCode[static_cast<ptrdiff_t>(scaled) + kLightBucketLimit];
  return int32_t(code) + (ScaledBoundaryAbove[code] <= scaled ? 1 : 0);
}

// The conversion through one set of products; the sums go in exactly the conversion's order.
inline void ConvertWithProducts(PixelTriple& triple, const Bt709ProductTable& products) {
  const int32_t r = triple.R;
  const int32_t g = triple.G;
  const int32_t b = triple.B;
  const Bt709ProductTable& p = products;
  triple.R = EncodeScaledLight((p.RedOfRed[r] - p.RedOfGreen[g]) - p.RedOfBlue[b]);
  triple.G = EncodeScaledLight((p.GreenOfGreen[g] - p.GreenOfRed[r]) - p.GreenOfBlue[b]);
  triple.B = EncodeScaledLight(p.BlueOfBlue[b] - (p.BlueOfRed[r] + p.BlueOfGreen[g]));
}

// The stage as one frame runs it, settled before its rows decode: nothing can toggle an option
// while a frame decodes. With the conversion on, Lookup holds every triple's answer, so a pixel
// costs one load instead of nine products and three re-encodings; it is null when the memory for
// it could not be had, and the stage then converts pixel by pixel.
struct ColourStage {
  bool HdrToSdr;
  bool Bt709;
  const uint32_t* Lookup;  // indexed and filled as bitmap pixels: B | G << 8 | R << 16
};

// The stage for these options. With the conversion on, fills the lookup for them first, on every
// worker, unless that is done: once per combination in a run, not per frame. BuildColourTables
// marks both lookups to be filled again.
ColourStage PrepareColourStage(bool hdrToSdr, bool bt709);

// count bitmap pixels (blue, green, red and a fourth byte) through the stage, in place, each as
// ApplyColourOptions would convert it; the fourth bytes keep their values.
void ApplyColourStage(const ColourStage& stage, uint8_t* pixels, int32_t count);

// The stage for one pixel, its definition: HDR-to-SDR tone mapping when its flag is on, then
// BT.709 conversion when its flag is on. The flags are template arguments, so a loop built for
// one combination leaves out the flag tests and table choice per pixel.
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
