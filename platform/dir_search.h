// Directory search by a file-name pattern, with the Windows wildcard rules: "?" stands for one
// character, or for none just before a dot or at the end of the name; "*" for any run. Letter
// case of A-Z is ignored. Only names of regular files are reported (a link: of what it leads
// to); folders, "." and ".." among them, never are.
#pragma once

constexpr int kPlatformNameSize = 260;

struct PlatformSearchHandle;
using PlatformSearch = PlatformSearchHandle*;  // null: nothing matched, or no such folder

// Starts a search for pattern (a folder part, then a name pattern); on a match writes the first
// name, without folder, into name (kPlatformNameSize bytes) and returns the search.
PlatformSearch PlatformFindFirst(const char* pattern, char* name);
// Writes the next matching name; false when there is none.
bool PlatformFindNext(PlatformSearch search, char* name);
void PlatformFindClose(PlatformSearch search);
// Called after every close when set: a test's stand-in for another program changing the folder.
extern void (*PlatformSearchClosedHook)();
