// Playback decisions, apart from the window: which step a key gives, whether the timer runs,
// which frame the next tick shows.
#pragma once

#include <cstdint>

enum PlaybackKey {
  KeyStepBack,
  KeyStepForward,
  KeyQuit,
  KeyStop,
  KeyFrameBack,     // ","
  KeyFrameForward,  // "."
  KeyFirstFrame,    // Home
  KeyLastFrame,     // End
};

// The arrows step, Q quits, the frame keys move to another frame; every key but the arrows and
// Q (space, shift, up and down included) stops.
PlaybackKey ClassifyKey(uint32_t virtualKey);

// Applies an arrow or stop key to PlaybackStep, bounded to -10..+10. Returns whether the
// playback timer runs afterwards: only with a non-zero step and frames to play (with nothing
// open the step stays 0).
bool PressPlaybackKey(PlaybackKey key);

// The frame a tick shows: the current one plus the step, jumping to the far end past either
// end instead of wrapping by the remainder.
int32_t NextFrameIndex(int32_t current, int32_t step, int32_t frameCount);

// The frame a frame key shows: one on or back, the first or the last. A single step at either
// end stays there, so that the end shows as reached. Any other key, or nothing open: current.
int32_t FrameKeyIndex(PlaybackKey key, int32_t current, int32_t frameCount);
