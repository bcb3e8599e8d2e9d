// What the program does on a command of the proctor's page: a message, the
// exam's end, the screen locked and unlocked.
#pragma once

#include <windows.h>

// WM_PROCTOR_COMMAND on the start screen: acts on the command the heartbeat
// sender handed over, then has the server told it is done. Ignored for a
// message of any other origin, and when no exam runs.
void OnProctorCommand(LPARAM lParam);

// For every tick of the watch, after the bar is raised: the lock's cover
// back below the bar and the program's own boxes and prompt, the message on
// top of all, and the keyboard kept from the browser under the cover.
void KeepProctorWindowsInPlace();

// The keyboard to what is in front of the exam (the message, the cover, or
// the browser), other than `leaving`: called before a window of the
// proctor's goes, so that the foreground never falls to the desktop between.
void GiveFrontBackToExam(HWND leaving = nullptr);

// At the exam's end: the cover and the message go.
void CloseProctorWindows();
