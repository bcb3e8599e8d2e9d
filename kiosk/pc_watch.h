// What the PC tells the start screen during an exam: screens plugged in, the
// screen locked or the user switched, Windows signing out or shutting down.
#pragma once

#include <windows.h>

// The start screen hears of this session's lock, switch and disconnect from
// its creation to its destruction.
void RegisterSessionNotices(HWND window);
void UnregisterSessionNotices(HWND window);

// At the launch, after START: forgets the last exam's screens and session
// end, and reports more than one screen.
void StartPcWatch();
// WM_DISPLAYCHANGE: a screen more than before is reported.
void OnDisplayChange();
// WM_WTSSESSION_CHANGE: a lock, switch or disconnect is reported.
void OnSessionChange(WPARAM code);
// WM_QUERYENDSESSION: reported once; the program never holds Windows back.
LRESULT OnQueryEndSession(HWND window);
// WM_ENDSESSION: when Windows goes ahead, the reports get their chance and
// the exam is taken down before the process is ended.
void OnEndSession(HWND window, bool ending);
