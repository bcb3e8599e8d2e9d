// The clipboard during an exam: emptied at its start and its end, and what
// other programs put on it meanwhile reported (see clipboard_rules.h).
#pragma once

#include <windows.h>

// The start screen hears of every clipboard change from its creation to its
// destruction (WM_CLIPBOARDUPDATE).
void StartClipboardWatch(HWND window);
void StopClipboardWatch(HWND window);

// At the launch: nothing copied before the exam comes into it, and the
// clipboard reports start afresh. At the end: nothing of the exam goes out to
// the next student. Both empty it on a thread of their own and return at once.
void BeginExamClipboard();
void EndExamClipboard();

// The keyboard hook let a copy key through (see IsCopyKey): a change of the
// clipboard in the next 2 s by the exam's own windows is the form's copy.
void NoteCopyKey();

// On each tick of the watch: the start's emptying, if another program held
// the clipboard open, is tried again; what was there before the launch and
// is still there 3 s after it is reported, once.
void CheckStartClipboard();

// WM_CLIPBOARDUPDATE: during an exam, a change not explained by a copy key
// in the form is reported, at most once per 5 s (a spacing of its own).
void OnClipboardUpdate();
