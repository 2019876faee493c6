// A sequence of frame files from one opened path, and loading its frames.
#pragma once

#include <cstdint>

// The two messages a user can see.
constexpr const char* kCantOpenMessage = "Can't open file!";
constexpr const char* kInvalidImageMessage = "Invalid image file!";

// Takes a path (quotes stripped) into the path buffer; false, the buffer unchanged, when it does
// not fit: a name cut short could open some other file.
bool TakeOpenPath(const char* text);

// Classifies the path, lists the matching files of its folder into the FrameList (sorted by
// frame number) and finds the opened file in it. 0, or -1 when nothing matches.
int32_t ScanSequence();

// Reads the current frame's file: 0 (decoded, or a new source size recorded) or -1.
int32_t LoadFrame();

// LoadFrame, and on a new frame size the bitmap rebuilt and the frame loaded again; `rebuilt`
// tells the shell to fit its window to the new bitmap.
int32_t ShowFrame(bool& rebuilt);

// One playback tick without the paint: the next frame is shown, then the one after it is read
// ahead into the file cache, so the storage works while this one is on screen.
int32_t PlaybackTick(bool& rebuilt);

// ScanSequence then ShowFrame, with the error box on failure; stops playback. True on a rebuild.
bool OpenSequence();

// TakeOpenPath then OpenSequence; a path too long fails as a file that cannot be opened.
bool OpenPath(const char* text);

// Tells the user an open failed (and why), and leaves the sequence empty, playback stopped.
void FailOpen(const char* message);

// Entry k of the FrameList (no bounds check beyond the caller's).
const char* FrameListEntry(int32_t k);
