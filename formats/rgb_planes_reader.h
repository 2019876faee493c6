#pragma once
#include <cstdint>

// Loads the planar frame named by the path, all three planes whichever is named, or records the
// size its name gives (0); -1 without an upper-case "K" size, a plane or a fitting bitmap.
// Leaves the path naming the last plane file tried.
int32_t ReadRgbPlanesFrame();
