// Colour tables and the colour options stage that every reader applies to every pixel.
#pragma once

#include <cstdint>

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

// Fills the four tables; runs once, before the first frame is decoded.
void BuildColourTables();

// BT.2020 primaries to BT.709, through linear light, rounding to the nearest code.
void ConvertBt2020ToBt709(PixelTriple& triple);

// Linear light -> the nearest 8-bit code on the BT.2020 curve, a value exactly on a boundary
// going to the upper code; below DecisionTable[1] gives 0, from DecisionTable[255] up 255.
int32_t EncodeLinearLight(double v);

// HDR-to-SDR tone mapping when its flag is on, then BT.709 conversion when its flag is on.
void ApplyColourOptions(PixelTriple& triple);
