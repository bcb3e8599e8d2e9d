// The low-level keyboard hook that keeps the student inside the exam.
#pragma once

#include <windows.h>

// Installs the hook unless one is already installed.
void InstallKioskHook();

// Removes the hook if one is installed.
void RemoveKioskHook();

// Swallows the strokes that would leave the browser and turns Ctrl+Alt+P into
// a WM_PROCTOR_EXIT for the start screen. Runs on the GUI thread: it only
// reads the key state and at most posts one message, never waits.
LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record);
