// The start screen "ORVELCBTMain": the form, its checks and the session hooks.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Enables or disables the start button and gives it this caption.
void SetStartButton(bool enabled, const wchar_t* text);
