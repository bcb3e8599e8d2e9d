// The two owner-drawn buttons of the start screen.
#pragma once

#include <windows.h>

// Draws the start button or the rules link; any other control draws nothing.
void DrawOwnerControl(const DRAWITEMSTRUCT& item);
