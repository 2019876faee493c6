// The test picture, rendered one row at a time so an 8K frame never has to be held whole.
//
// What it shows, top to bottom (sizes scale with the height, so 4K and 8K look alike):
//   - colour bars (white, yellow, cyan, green, magenta, red, blue, black) over the top half,
//     with the frame number in large seven-segment digits on a black box in the middle;
//   - the same bars at 75 % over the next twelfth of the height;
//   - eight patches of mid-saturation colours (skin, sky, foliage, orange, violet, teal, gold,
//     rose) down to two thirds of the height. The full bars sit on the BT.2020 primaries, which
//     the BT.709 conversion clips back to the same 8-bit values; these change visibly under
//     both Color options;
//   - a marker in the top-left corner: a black square holding a white one, whose top-left
//     corner holds a red one. Upside down or mirrored, it is somewhere else;
//   - a row comb at the right edge of the bars and patches: black, with a white line on every
//     row whose number counted from the bottom is a multiple of 8 (the rows the viewer keeps at
//     1/8, so that strip turns solid white there, and grey-striped at 1/2 and 1/4);
//   - a grey ramp from black on the left to white on the right;
//   - a column comb along the bottom edge: black, white on every column x with x % 8 == 0.
// Every value is a 10-bit narrow-range code: 64 is black, 940 white.
#pragma once

#include <cstdint>

struct Rgb10 {
  uint16_t R;
  uint16_t G;
  uint16_t B;
};

constexpr uint16_t kBlackCode = 64;
constexpr uint16_t kWhiteCode = 940;
constexpr int kMaxDigits = 10;

struct PatternLayout {
  int32_t Width;
  int32_t Height;
  int32_t BarsBottom;     // rows [0, BarsBottom): bars
  int32_t Bars75Bottom;   // rows [BarsBottom, Bars75Bottom): 75 % bars
  int32_t PatchesBottom;  // rows [Bars75Bottom, PatchesBottom): mid-saturation patches
  int32_t RampBottom;     // rows [PatchesBottom, RampBottom): ramp; below it the column comb
  int32_t RowCombLeft;    // columns [RowCombLeft, Width) of the rows above the ramp: row comb

  int32_t MarkerLeft;  // the marker's black square: [MarkerLeft, +MarkerSize) both ways
  int32_t MarkerTop;
  int32_t MarkerSize;
  int32_t MarkerBorder;    // black frame around the white square
  int32_t MarkerRedInset;  // from the white square's corner to the red one
  int32_t MarkerRedSize;

  int32_t DigitCount;
  uint8_t Digits[kMaxDigits];  // most significant first
  int32_t DigitWidth;
  int32_t DigitHeight;
  int32_t DigitStroke;
  int32_t DigitGap;
  int32_t BoxLeft;  // black box behind the digits
  int32_t BoxTop;
  int32_t BoxWidth;
  int32_t BoxHeight;
  int32_t BoxPadding;
};

// Lays out the picture for a frame size and the number to draw (0 or more).
PatternLayout MakePatternLayout(int32_t width, int32_t height, int32_t frameNumber);

// Picture row y (0 = top) into row[0 .. Width).
void RenderPatternRow(const PatternLayout& layout, int32_t y, Rgb10* row);
