// The exam's input lockdown: the low-level keyboard and mouse hooks, their
// handles and the one state they share (the Alt, Ctrl and Shift keys the
// keyboard hook has seen held, and the left press the mouse hook let
// through). Installed at the launch, renewed each watch tick, removed when
// the exam ends; the decisions are key_rules.h's and mouse_rules.h's.
#pragma once

#include <windows.h>

// The two hooks' handles, GUI thread only: both set or both empty, but for
// a moment while one is renewed.
extern HHOOK g_hKeyHook;
extern HHOOK g_hMouseHook;

// Installs each hook unless it is already installed; a hook installed anew
// starts from a fresh state. A failed hook leaves the exam running without it.
void InstallExamHooks();

// Once a second during an exam: forgets an Alt, Ctrl or Shift the hook
// believes held that the system says is up, and puts fresh hooks in place of
// the current ones (each installed first, so there is never a moment without
// one). Windows silently drops a hook whose procedure once ran too long, on a
// loaded PC.
void RefreshExamHooks();

// Removes both hooks if installed.
void RemoveExamHooks();

// Swallows the strokes that would leave the browser, turns Ctrl+Alt+P into a
// WM_PROCTOR_EXIT for the start screen and tells the clipboard watch of a
// copy key that passed. Runs on the GUI thread: it only reads the key state
// and at most posts one message, never waits.
LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record);

// Swallows the buttons that open menus, tabs and windows during an exam.
// Moves, by far the most events, return at once.
LRESULT CALLBACK LowLevelMouseProc(int code, WPARAM message, LPARAM record);
