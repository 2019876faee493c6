#include "formats/dpx_reader.h"

// Not written yet.
int32_t ReadDpxFrame() { return -1; }
