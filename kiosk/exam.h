// The exam's life: its start in the browser and every road out of it, side
// by side, and the running exam's state that both share. The browser's
// process and job themselves are kiosk/browser.h's.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

// The running exam (the hooks' handles are kiosk/lockdown/input_hooks.h's).
extern PROCESS_INFORMATION g_browserProc;
// The job the browser runs in, ended with it; the system ends it (and the
// browser with everything it started) when this program ends in any way,
// killed from Task Manager included. Null when no browser runs or the
// system would not put it in a job.
extern HANDLE g_hBrowserJob;
extern std::atomic<bool> g_examActive;
// Atomic: the sender thread numbers its report of a stopped window thread
// on from it.
extern std::atomic<int> g_violationCount;
extern DWORD g_lastViolationTick;

// UTF-8 session strings. Written and read on the GUI thread only; workers get
// copies of what they need (the sender its own at the launch) and hand their
// results back inside a message.
extern std::string g_studentName;
extern std::string g_className;
extern std::string g_token;
extern std::string g_formUrl;
// The session of the last accepted verification, taken (and emptied) by the
// launch it leads to; the running exam's own copy lives with its reports.
extern std::string g_examSession;

// Opens g_formUrl in the browser in kiosk mode, with a new profile folder,
// and starts the exam session. Shows its own message box when no browser is
// found, the temporary folder cannot take the profile, or the browser cannot
// start.
void StartExamInKiosk();

// Undoes the exam set-up (flag, timer, hooks, browser, its profile folder,
// bar), empties the clipboard when an exam was running, and brings the start
// screen back to the front. Safe at any time, also with no exam running.
void StopExamAndRestore();

// The proctor's right PIN: the end is reported ("FINISH"), so that a student
// who saw the PIN typed cannot end the exam unseen, then the exam is taken
// down. No box: the proctor is at the PC.
void EndExamByProctor();

// The program is closing during an exam (its start screen destroyed, or its
// message loop ended by a quit message): the proctor hears of it before the
// exam is taken down. Nothing is reported when no exam runs.
void EndExamAsProgramCloses();
