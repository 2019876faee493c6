#include "formats/v210_reader.h"

// Not written yet.
int32_t ReadMovFrame() { return -1; }
