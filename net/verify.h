// Token verification with the exam server, on a worker thread of its own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

struct VerifyResult;
struct VerifyHandOver;

// Posted to the window that asked, wParam 1 = accepted. The program's other
// messages: app/globals.h.
inline constexpr UINT WM_VERIFY_RESULT = WM_USER + 1;

// Starts the worker with copies of the three values. It posts WM_VERIFY_RESULT
// to window, wParam 1 when accepted, with the hand-over of this verification
// in lParam. False when no thread could be started; nothing will be posted.
bool StartVerification(HWND window, const std::string& studentName, const std::string& className,
                       const std::string& token);

// The result of the awaited verification, for its own WM_VERIFY_RESULT only:
// null for any other message with that number (another program may post it,
// with any parameters), which is then to be ignored. GUI thread only.
std::unique_ptr<VerifyResult> TakeVerifyResult(LPARAM lParam);

// The two halves of the hand-over, for StartVerification and for tests that
// play the worker: a new slot that the GUI thread now awaits (forgetting any
// earlier one), and the worker filling it and posting the message.
VerifyHandOver* BeginVerifyHandOver();
void CompleteVerifyHandOver(HWND window, VerifyHandOver* slot, VerifyResult result);
