// The low-level mouse hook of the exam: it lives exactly as long as the
// keyboard hook, installed at the launch, renewed each watch tick, removed
// when the exam ends.
#pragma once

#include <windows.h>

void InstallMouseHook();
void RemoveMouseHook();
// Puts a fresh hook in place of the current one (the new one first).
void RefreshMouseHook();

// A left press that the hook let through is held (its release not yet seen).
bool LeftPressHeld();

// Swallows the buttons that open menus, tabs and windows during an exam.
// Moves, by far the most events, return at once.
LRESULT CALLBACK LowLevelMouseProc(int code, WPARAM message, LPARAM record);
