// "Pesan Pengawas": the proctor's message over the exam, above the browser
// and the bar, with one button "OK" that closes it.
#pragma once

#include <windows.h>

#include <string>

// Shows the message, or puts this text in the one already showing.
void ShowProctorMessage(const std::wstring& text);
// The window while it shows; null otherwise.
HWND ProctorMessageWindow();
// At the exam's end.
void CloseProctorMessage();

LRESULT CALLBACK ProctorMessageWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
