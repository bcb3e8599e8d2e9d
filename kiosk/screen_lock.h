// The screen locked by the proctor: a full-screen window of the program's
// own over the browser, below the bar and the program's own boxes and PIN
// prompt whatever raises it, until unlocked or the exam ends.
#pragma once

#include <windows.h>

// Covers the screens; nothing when locked already.
void LockScreen();
// Removes the cover; nothing when not locked.
void UnlockScreen();
// The cover right below the lowest of the bar and the program's own boxes
// and prompt. Also done by itself each time it takes the foreground (a
// click on it), which raises it over all.
void PutCoverInPlace();
// The cover while locked; null otherwise.
HWND ScreenLockWindow();

LRESULT CALLBACK ScreenLockWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
