#include "kiosk/clipboard_watch.h"

#include "app/globals.h"
#include "kiosk/clipboard_rules.h"
#include "kiosk/exam_processes.h"
#include "kiosk/violation_report.h"
#include "net/worker.h"

namespace {

DWORD g_lastClipboardReportTick = 0;

// Another program may hold the clipboard open for a moment: a few tries, a
// second at most. Without an owner window: the change that follows leaves
// nothing to paste, which is no report.
void EmptyClipboardNow()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
            return;
        }
        Sleep(20);
    }
}

// On a thread of its own: emptying the clipboard sends its owner (whichever
// program put something there) a message and waits for the answer, and a
// program that never answers must not hold up the start or the end of an
// exam.
void EmptyClipboardAside()
{
    if (!g_startWorker(EmptyClipboardNow))
        EmptyClipboardNow();
}

}  // namespace

void StartClipboardWatch(HWND window)
{
    AddClipboardFormatListener(window);
}

void StopClipboardWatch(HWND window)
{
    RemoveClipboardFormatListener(window);
}

void BeginExamClipboard()
{
    g_lastClipboardReportTick = 0;
    EmptyClipboardAside();
}

void EndExamClipboard()
{
    EmptyClipboardAside();
}

void OnClipboardUpdate()
{
    if (!g_examActive.load())
        return;
    // The window that opened the clipboard for the change: the browser's for
    // a copy in the form, none when this program emptied it.
    OwnerFacts owner = OwnerOfWindow(GetClipboardOwner());
    if (OwnerLookupNeeded(owner))
        LookUpOwner(owner);
    if (ClipboardChangeToReport(owner, CountClipboardFormats() > 0))
        ReportViolationSpaced(ViolationKind::ClipboardFilled, g_lastClipboardReportTick);
}
