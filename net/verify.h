// Token verification with the exam server, on a worker thread of its own.
#pragma once

#include <windows.h>

#include <string>

// Starts the worker with copies of the three values. It posts WM_VERIFY_RESULT
// to window: wParam 1 when accepted, lParam a VerifyResult* that the receiver
// owns (the worker deletes it itself if the post fails). False when no thread
// could be started; nothing will be posted then.
bool StartVerification(HWND window, const std::string& studentName, const std::string& className,
                       const std::string& token);
