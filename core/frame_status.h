// The name part of the status bar, apart from the window: what it says about the frame shown.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest name part: a file name, the mark and a reason with a name of its own.
constexpr size_t kNameStatusSize = 640;

// Writes into `out` (of `size` bytes, always terminated) the frame's file name and, when its
// frame could not be read, " - unreadable" and, from a non-empty reason "file: fact", ": fact".
// The reason keeps its "file: " when it is about another file than the frame's, as a missing
// plane of a planar frame is. Plain ASCII: the status text is 8-bit in any code page.
void FormatNameStatus(char* out, size_t size, const char* name, bool unreadable, const char* reason,
                      int32_t reasonFact);
