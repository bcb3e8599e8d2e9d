// Session state shared by the whole program. Everything here lives for the
// whole process; see the notes on each group for which thread may touch it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace Gdiplus { class Image; }

// The program's own window messages, both posted to the start screen.
inline constexpr UINT WM_VERIFY_RESULT = WM_USER + 1;  // wParam 1 = accepted
inline constexpr UINT WM_PROCTOR_EXIT = WM_USER + 2;   // Ctrl+Alt+P during an exam
inline constexpr UINT WM_PROCTOR_COMMAND = WM_USER + 3;  // from the heartbeat's answer (net/proctor_command.h)

// Foreground watch timer on the start screen, once a second during an exam.
inline constexpr UINT_PTR kWatchTimerId = 301;
inline constexpr UINT kWatchTimerMs = 1000;

inline constexpr wchar_t kMainClassName[] = L"ORVELCBTMain";
inline constexpr wchar_t kBarClassName[] = L"CBTControlBar";
inline constexpr wchar_t kProctorMessageClassName[] = L"ORVELProctorMessage";
inline constexpr wchar_t kScreenLockClassName[] = L"ORVELScreenLock";
inline constexpr wchar_t kMainTitle[] = L"ORVEL SELVARO";

// Windows and GDI objects, GUI thread only. Fonts are never deleted.
extern HWND g_hMainWnd;
extern HWND g_hBarWnd;
extern HWND g_hEditName;
extern HWND g_hEditClass;
extern HWND g_hEditToken;
extern HWND g_hBtnStart;
extern HFONT g_hFontBold;
extern HFONT g_hFontNormal;

// GDI+: started and stopped by WinMain; the picture is read by every paint.
extern ULONG_PTR g_gdiplusToken;
extern Gdiplus::Image* g_bgImage;

// Kiosk session (the hooks' handles are kiosk/input_hooks.h's).
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
// copies of what they need and hand their results back inside a message.
extern std::string g_studentName;
extern std::string g_className;
extern std::string g_token;
extern std::string g_proctorPin;
extern std::string g_formUrl;
extern std::string g_verifyError;
// The session of the last accepted verification, taken (and emptied) by the
// launch it leads to; the running exam's own copy lives with its reports.
extern std::string g_examSession;
