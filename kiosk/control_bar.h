// The always-on-top exam control bar "CBTControlBar".
#pragma once

#include <windows.h>

LRESULT CALLBACK BarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
