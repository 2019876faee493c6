#pragma once
#include <cstdint>

// Loads the current planar R/G/B frame named by the path (or records a new size).
int32_t ReadRgbPlanesFrame();
