#include "formats/rgb_planes_reader.h"

// Not written yet.
int32_t ReadRgbPlanesFrame() { return -1; }
