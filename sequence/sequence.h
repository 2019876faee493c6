// A sequence of frame files from one opened path, and loading its frames.
#pragma once

#include <cstdint>

// The two messages a user can see.
constexpr const char* kCantOpenMessage = "Can't open file!";
constexpr const char* kInvalidImageMessage = "Invalid image file!";

// Puts a path as the command line, a drop or the open dialog gives it into the path buffer: a
// leading double quote is skipped and the next one ends the path. False, the path buffer
// unchanged, when the path does not fit it: a name cut short could open some other file.
bool TakeOpenPath(const char* text);

// Classifies the path, lists the matching files of its folder into the FrameList (sorted by
// frame number) and finds the opened file in it. 0, or -1 when nothing matches.
int32_t ScanSequence();

// Puts the current frame's file name into the path and runs the reader for the kind.
// The frame reader result: 0 (decoded, or a new source size recorded) or -1.
int32_t LoadFrame();

// LoadFrame, and when the frame turned out to be of another size, the rest of the size
// handshake: the bitmap rebuilt when the shifted size changed, and the frame loaded again. The
// result of the last load; `rebuilt` tells the shell to fit its window to the new bitmap.
int32_t ShowFrame(bool& rebuilt);

// One playback tick without the paint: the frame PlaybackStep away (NextFrameIndex) becomes the
// current one and is shown (ShowFrame); then the frame after it starts being read ahead into the
// system's file cache, so the storage works while this one is on screen. Nothing decoded is kept:
// the next tick reads its frame as any load does, from the cache where the read-ahead got there.
int32_t PlaybackTick(bool& rebuilt);

// ScanSequence then ShowFrame, with the error box on failure; always stops playback. True when
// the bitmap was rebuilt.
bool OpenSequence();

// TakeOpenPath then OpenSequence; a path too long for the buffer fails as a file that cannot be
// opened. True when the bitmap was rebuilt.
bool OpenPath(const char* text);

// Tells the user an open failed, and why when the reason says, and leaves the sequence empty,
// playback stopped.
void FailOpen(const char* message);

// Entry k of the FrameList (no bounds check beyond the caller's).
const char* FrameListEntry(int32_t k);
