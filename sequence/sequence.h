// A sequence of frame files from one opened path, and loading its frames.
#pragma once

#include <cstdint>

// The two messages a user can see.
constexpr const char* kCantOpenMessage = "Can't open file!";
constexpr const char* kInvalidImageMessage = "Invalid image file!";

// Classifies the path, lists the matching files of its folder into the FrameList (sorted by
// frame number) and finds the opened file in it. 0, or -1 when nothing matches.
int32_t ScanSequence();

// Puts the current frame's file name into the path and runs the reader for the kind.
// The frame reader result: 0 (decoded, or a new source size recorded) or -1.
int32_t LoadFrame();

// ScanSequence then LoadFrame, with the error box on failure; always stops playback.
void OpenSequence();

// After a load that may have met a frame of another size (the source size before it given):
// rebuilds the bitmap and loads again when the shifted size changed, loads again when only the
// source size changed, so the frame is always decoded. Returns the result of the last load (0
// when none was needed) and tells in *rebuilt whether the bitmap was rebuilt, for the shell to
// fit its window.
int32_t ReloadAtSourceSize(int32_t widthBefore, int32_t heightBefore, bool* rebuilt);

// Tells the user an open failed and leaves the sequence empty, playback stopped.
void FailOpen(const char* message);

// Entry k of the FrameList (no bounds check beyond the caller's).
const char* FrameListEntry(int32_t k);

// How many names the FrameList holds: the frame count, or 1 for a movie.
int32_t FrameListLength();
