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

std::string g_proctorPin = "6483";  // used until the server sends a PIN
std::string g_verifyError;
