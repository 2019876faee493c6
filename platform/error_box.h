// The one way the core speaks to the user: a modal box captioned "Error" with an OK button
// (a line on stderr where there is no window system).
#pragma once

void PlatformShowError(const char* message);
