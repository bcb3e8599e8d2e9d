// The screen locked by the proctor: a full-screen window of the program's
// own over the browser, below the bar, until unlocked or the exam ends.
#pragma once

#include <windows.h>

// Covers the screens; nothing when locked already.
void LockScreen();
// Removes the cover; nothing when not locked.
void UnlockScreen();
// The cover while locked; null otherwise.
HWND ScreenLockWindow();
