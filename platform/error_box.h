// The one way the core speaks to the user: a modal box captioned "Error" with an OK button
// (lines on stderr where there is no window system).
#pragma once

// The message, then, when the reason is not empty, a blank line and the reason.
void PlatformShowError(const char* message, const char* reason);
