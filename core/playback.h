// Playback decisions, apart from the window: which step a key gives, whether the timer runs,
// which frame the next tick shows.
#pragma once

#include <cstdint>

enum PlaybackKey { KeyStepBack, KeyStepForward, KeyQuit, KeyStop };

// The arrows step, Q quits, every other key (space, shift, up and down included) stops.
PlaybackKey ClassifyKey(uint32_t virtualKey);

// Applies an arrow or stop key to PlaybackStep, bounded to -10..+10. Returns whether the
// playback timer runs afterwards: only with a non-zero step and frames to play (with nothing
// open the step stays 0).
bool PressPlaybackKey(PlaybackKey key);

// The frame a tick shows: the current one plus the step, jumping to the far end past either
// end instead of wrapping by the remainder.
int32_t NextFrameIndex(int32_t current, int32_t step, int32_t frameCount);
