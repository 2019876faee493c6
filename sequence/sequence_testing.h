// Test seam: lets a test change the folder between the two passes of a sequence scan, as another
// program may do at any time.
#pragma once

extern void (*BetweenScanPassesHook)();

// The frame order of the FrameList: <0, 0 or >0 like strcmp.
int CompareFrameNames(const char* a, const char* b);
