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
// WM_ENDSESSION: when the session ends, the reports get their chance (5 s
// at most); the exam itself goes on until Windows ends the program.
void OnEndSession(HWND window, bool ending);
// On each tick of the watch during an exam: an end of the session told 10 s
// ago or more that did not end the program was not Windows': reported, and
// a later one is reported again.
void CheckSessionEnd();
