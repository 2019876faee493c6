#include "formats/mov_atoms.h"

// Not written yet.
int32_t ScanMovAtoms() { return 0; }
