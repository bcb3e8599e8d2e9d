// The low-level keyboard hook that keeps the student inside the exam.
#pragma once

#include <windows.h>

// Installs the hook unless one is already installed.
void InstallKioskHook();

// Removes the hook if one is installed.
void RemoveKioskHook();

// Ctrl and Shift now: the system's key state, or the keyboard hook saw the
// key go down (the state may lag behind, under Wine above all).
struct HeldModifiers {
    bool ctrl = false;
    bool shift = false;
};
HeldModifiers ModifiersHeld();

// Once a second during an exam: forgets an Alt, Ctrl or Shift the hook
// believes held that the system says is up, and puts a fresh hook in place of
// the current one (installed first, so there is never a moment without one).
// Windows silently drops a hook whose procedure once ran too long, on a
// loaded PC.
void RefreshKioskHook();

// Swallows the strokes that would leave the browser and turns Ctrl+Alt+P into
// a WM_PROCTOR_EXIT for the start screen. Runs on the GUI thread: it only
// reads the key state and at most posts one message, never waits.
LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record);
