// State shared by the whole program (the running exam's is kiosk/exam.h's).
// Everything here lives for the whole process; see the notes on each group
// for which thread may touch it.
#pragma once

#include <windows.h>

#include <string>

namespace Gdiplus { class Image; }

// The program's own window messages, all posted to the start screen, each
// declared beside what posts it: WM_USER + 1 WM_VERIFY_RESULT (net/verify.h),
// + 3 WM_PROCTOR_COMMAND (net/proctor_command.h), and this one.
inline constexpr UINT WM_PROCTOR_EXIT = WM_USER + 2;   // Ctrl+Alt+P during an exam

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

// UTF-8, GUI thread only; the running exam's own strings are kiosk/exam.h's.
extern std::string g_proctorPin;
extern std::string g_verifyError;
