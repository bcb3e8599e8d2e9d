// The always-on-top exam control bar "CBTControlBar": "Selesai Ujian" for the
// student, "Pengawas (PIN)" for the proctor.
#pragma once

#include <windows.h>

// Creates the bar at the top right of the primary screen; null if it failed.
HWND CreateControlBar();

LRESULT CALLBACK BarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
