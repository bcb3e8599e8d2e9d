#include "app/globals.h"

HWND g_hMainWnd = nullptr;
HWND g_hBarWnd = nullptr;
HWND g_hEditName = nullptr;
HWND g_hEditClass = nullptr;
HWND g_hEditToken = nullptr;
HWND g_hBtnStart = nullptr;
HFONT g_hFontBold = nullptr;
HFONT g_hFontNormal = nullptr;

ULONG_PTR g_gdiplusToken = 0;
Gdiplus::Image* g_bgImage = nullptr;

PROCESS_INFORMATION g_browserProc = {};
HANDLE g_hBrowserJob = nullptr;
std::atomic<bool> g_examActive{false};
std::atomic<int> g_violationCount{0};
DWORD g_lastViolationTick = 0;

std::string g_studentName;
std::string g_className;
std::string g_token;
std::string g_proctorPin = "6483";  // used until the server sends a PIN
std::string g_formUrl;
std::string g_verifyError;
std::string g_examSession;
