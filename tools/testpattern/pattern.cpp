#include "tools/testpattern/pattern.h"

#include <algorithm>

namespace {

constexpr Rgb10 kBlack = {kBlackCode, kBlackCode, kBlackCode};
constexpr Rgb10 kWhite = {kWhiteCode, kWhiteCode, kWhiteCode};
constexpr Rgb10 kRed = {kWhiteCode, kBlackCode, kBlackCode};

constexpr Rgb10 kBars[8] = {
    {kWhiteCode, kWhiteCode, kWhiteCode}, {kWhiteCode, kWhiteCode, kBlackCode},
    {kBlackCode, kWhiteCode, kWhiteCode}, {kBlackCode, kWhiteCode, kBlackCode},
    {kWhiteCode, kBlackCode, kWhiteCode}, {kWhiteCode, kBlackCode, kBlackCode},
    {kBlackCode, kBlackCode, kWhiteCode}, {kBlackCode, kBlackCode, kBlackCode},
};

// The bars at 75 %: 64 + 0.75 * (940 - 64).
constexpr uint16_t k75Code = 721;
constexpr Rgb10 kBars75[8] = {
    {k75Code, k75Code, k75Code},       {k75Code, k75Code, kBlackCode},
    {kBlackCode, k75Code, k75Code},    {kBlackCode, k75Code, kBlackCode},
    {k75Code, kBlackCode, k75Code},    {k75Code, kBlackCode, kBlackCode},
    {kBlackCode, kBlackCode, k75Code}, {kBlackCode, kBlackCode, kBlackCode},
};

// Half-saturated colours of everyday pictures: the BT.709 conversion moves each of them by 15 to
// 90 codes in some channel, and the tone mapping brightens each.
constexpr Rgb10 kPatches[8] = {
    {680, 520, 440},  // skin
    {380, 560, 760},  // sky
    {360, 600, 300},  // foliage
    {780, 500, 220},  // orange
    {560, 360, 700},  // violet
    {260, 620, 600},  // teal
    {700, 640, 280},  // gold
    {760, 360, 480},  // rose
};

// Seven segments, bit 0 = a (top), then b, c (right, top to bottom), d (bottom), e, f (left,
// bottom to top), g (middle).
constexpr uint8_t kSegA = 1, kSegB = 2, kSegC = 4, kSegD = 8, kSegE = 16, kSegF = 32, kSegG = 64;
constexpr uint8_t kDigitSegments[10] = {
    kSegA | kSegB | kSegC | kSegD | kSegE | kSegF,          // 0
    kSegB | kSegC,                                          // 1
    kSegA | kSegB | kSegG | kSegE | kSegD,                  // 2
    kSegA | kSegB | kSegG | kSegC | kSegD,                  // 3
    kSegF | kSegG | kSegB | kSegC,                          // 4
    kSegA | kSegF | kSegG | kSegC | kSegD,                  // 5
    kSegA | kSegF | kSegG | kSegE | kSegD | kSegC,          // 6
    kSegA | kSegB | kSegC,                                  // 7
    kSegA | kSegB | kSegC | kSegD | kSegE | kSegF | kSegG,  // 8
    kSegA | kSegB | kSegC | kSegD | kSegF | kSegG,          // 9
};

// Fills [from, to) of the row, clipped to the picture.
void Fill(Rgb10* row, int32_t width, int32_t from, int32_t to, Rgb10 colour) {
  from = std::max(from, 0);
  to = std::min(to, width);
  for (int32_t x = from; x < to; ++x) row[x] = colour;
}

void RenderBarsRow(const PatternLayout& p, int32_t y, Rgb10* row) {
  const Rgb10* colours = y < p.BarsBottom ? kBars : y < p.Bars75Bottom ? kBars75 : kPatches;
  for (int32_t i = 0; i < 8; ++i) {
    Fill(row, p.Width, int32_t(int64_t(p.Width) * i / 8), int32_t(int64_t(p.Width) * (i + 1) / 8),
         colours[i]);
  }
  const bool kept = (p.Height - 1 - y) % 8 == 0;
  Fill(row, p.Width, p.RowCombLeft, p.Width, kept ? kWhite : kBlack);
}

void RenderRampRow(const PatternLayout& p, Rgb10* row) {
  const int64_t span = std::max(p.Width - 1, 1);
  for (int32_t x = 0; x < p.Width; ++x) {
    // Rounded, so both ends reach black and white exactly.
    const uint16_t code =
        uint16_t(kBlackCode + (int64_t(kWhiteCode - kBlackCode) * x + span / 2) / span);
    row[x] = {code, code, code};
  }
}

void RenderColumnCombRow(const PatternLayout& p, Rgb10* row) {
  for (int32_t x = 0; x < p.Width; ++x) row[x] = x % 8 == 0 ? kWhite : kBlack;
}

void RenderMarkerRow(const PatternLayout& p, int32_t y, Rgb10* row) {
  const int32_t dy = y - p.MarkerTop;
  if (dy < 0 || dy >= p.MarkerSize) return;
  const int32_t left = p.MarkerLeft;
  Fill(row, p.Width, left, left + p.MarkerSize, kBlack);
  const int32_t inner = p.MarkerSize - 2 * p.MarkerBorder;
  const int32_t wy = dy - p.MarkerBorder;
  if (wy < 0 || wy >= inner) return;
  const int32_t whiteLeft = left + p.MarkerBorder;
  Fill(row, p.Width, whiteLeft, whiteLeft + inner, kWhite);
  const int32_t ry = wy - p.MarkerRedInset;
  if (ry < 0 || ry >= p.MarkerRedSize) return;
  const int32_t redLeft = whiteLeft + p.MarkerRedInset;
  Fill(row, p.Width, redLeft, redLeft + p.MarkerRedSize, kRed);
}

// Row dy of one digit whose left edge is at x0.
void RenderDigitRow(const PatternLayout& p, uint8_t digit, int32_t dy, int32_t x0, Rgb10* row) {
  const uint8_t on = kDigitSegments[digit];
  const int32_t w = p.DigitWidth;
  const int32_t h = p.DigitHeight;
  const int32_t t = p.DigitStroke;
  const int32_t middleTop = (h - t) / 2;
  const bool inTop = dy < t;
  const bool inMiddle = dy >= middleTop && dy < middleTop + t;
  const bool inBottom = dy >= h - t;
  const bool upperHalf = dy < middleTop + t;
  const bool lowerHalf = dy >= middleTop;
  if ((inTop && (on & kSegA)) || (inMiddle && (on & kSegG)) || (inBottom && (on & kSegD))) {
    Fill(row, p.Width, x0, x0 + w, kWhite);
    return;
  }
  if ((upperHalf && (on & kSegF)) || (lowerHalf && (on & kSegE))) {
    Fill(row, p.Width, x0, x0 + t, kWhite);
  }
  if ((upperHalf && (on & kSegB)) || (lowerHalf && (on & kSegC))) {
    Fill(row, p.Width, x0 + w - t, x0 + w, kWhite);
  }
}

void RenderNumberRow(const PatternLayout& p, int32_t y, Rgb10* row) {
  if (y < p.BoxTop || y >= p.BoxTop + p.BoxHeight) return;
  Fill(row, p.Width, p.BoxLeft, p.BoxLeft + p.BoxWidth, kBlack);
  const int32_t dy = y - p.BoxTop - p.BoxPadding;
  if (dy < 0 || dy >= p.DigitHeight) return;
  for (int32_t i = 0; i < p.DigitCount; ++i) {
    const int32_t x0 = p.BoxLeft + p.BoxPadding + i * (p.DigitWidth + p.DigitGap);
    RenderDigitRow(p, p.Digits[i], dy, x0, row);
  }
}

// Every edge of the drawing falls on an even column: v210 carries one chroma sample per pixel
// pair, so an edge between a pair would smear colour into its odd pixel and the movie would
// not match the other layouts.
int32_t Even(int32_t v) {
  return v & ~1;
}

}  // namespace

PatternLayout MakePatternLayout(int32_t width, int32_t height, int32_t frameNumber) {
  PatternLayout p = {};
  p.Width = width;
  p.Height = height;
  p.BarsBottom = height / 2;
  p.Bars75Bottom = height * 7 / 12;
  p.PatchesBottom = height * 2 / 3;
  p.RampBottom = height - std::max(height / 16, 1);
  p.RowCombLeft = Even(width - std::max(width / 32, 2));

  p.MarkerSize = Even(height / 8);
  p.MarkerLeft = Even(height / 32);
  p.MarkerTop = p.MarkerLeft;
  p.MarkerBorder = Even(p.MarkerSize / 16);
  p.MarkerRedInset = Even(p.MarkerSize / 8);
  p.MarkerRedSize = Even(p.MarkerSize * 3 / 8);

  uint32_t n = frameNumber < 0 ? 0 : uint32_t(frameNumber);
  uint8_t reversed[kMaxDigits];
  do {
    reversed[p.DigitCount++] = uint8_t(n % 10);
    n /= 10;
  } while (n != 0 && p.DigitCount < kMaxDigits);
  for (int32_t i = 0; i < p.DigitCount; ++i) p.Digits[i] = reversed[p.DigitCount - 1 - i];

  p.DigitHeight = height / 4;
  p.DigitWidth = Even(height / 8);
  p.DigitStroke = std::max(Even(height / 36), 2);
  p.DigitGap = Even(height / 24);
  p.BoxPadding = Even(height / 32);
  p.BoxWidth = p.DigitCount * p.DigitWidth + (p.DigitCount - 1) * p.DigitGap + 2 * p.BoxPadding;
  p.BoxHeight = p.DigitHeight + 2 * p.BoxPadding;
  p.BoxLeft = Even((width - p.BoxWidth) / 2);
  p.BoxTop = (p.BarsBottom - p.BoxHeight) / 2;
  return p;
}

void RenderPatternRow(const PatternLayout& layout, int32_t y, Rgb10* row) {
  if (y < layout.PatchesBottom) {
    RenderBarsRow(layout, y, row);
  } else if (y < layout.RampBottom) {
    RenderRampRow(layout, row);
  } else {
    RenderColumnCombRow(layout, row);
  }
  RenderMarkerRow(layout, y, row);
  RenderNumberRow(layout, y, row);
}
