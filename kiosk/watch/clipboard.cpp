#include "kiosk/watch/clipboard.h"

#include "kiosk/exam.h"
#include "kiosk/violation_report.h"
#include "kiosk/watch/clipboard_rules.h"
#include "kiosk/watch/owner.h"
#include "net/worker.h"

#include <atomic>
#include <cstdint>
#include <optional>

namespace {

DWORD g_lastClipboardReportTick = 0;

// The last copy key the hook let through in this exam (GetTickCount64);
// GUI thread only, as the hook runs there.
std::optional<std::uint64_t> g_copyKeyAt;

// The start's emptying: what was there before it, and whether it is done.
enum class StartEmptying { Done, Pending, Trying };
std::atomic<StartEmptying> g_startEmptying{StartEmptying::Done};
std::uint32_t g_sequenceAtStart = 0;
std::uint64_t g_startedAt = 0;
bool g_staleReported = false;

// Another program may hold the clipboard open for a moment: a few tries, a
// second at most. Without an owner window: the change that follows leaves
// nothing to paste, which is no report.
bool EmptyClipboardNow()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
            return true;
        }
        Sleep(20);
    }
    return false;
}

// On a thread of its own: emptying the clipboard sends its owner (whichever
// program put something there) a message and waits for the answer, and a
// program that never answers must not hold up the start or the end of an
// exam.
void EmptyClipboardAside()
{
    if (!g_startWorker([] { EmptyClipboardNow(); }))
        EmptyClipboardNow();
}

// The same for the start, which notes whether it got through: a program
// that holds the clipboard open for longer is tried again on the next tick.
void EmptyAtStartAside()
{
    g_startEmptying = StartEmptying::Trying;
    const auto attempt = [] {
        g_startEmptying = EmptyClipboardNow() ? StartEmptying::Done : StartEmptying::Pending;
    };
    if (!g_startWorker(attempt))
        attempt();
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
    g_copyKeyAt.reset();
    g_sequenceAtStart = GetClipboardSequenceNumber();
    g_startedAt = GetTickCount64();
    g_staleReported = false;
    EmptyAtStartAside();
}

void EndExamClipboard()
{
    EmptyClipboardAside();
}

void NoteCopyKey()
{
    g_copyKeyAt = GetTickCount64();
}

void CheckStartClipboard()
{
    StartEmptying expected = StartEmptying::Pending;
    if (g_startEmptying.compare_exchange_strong(expected, StartEmptying::Trying))
        EmptyAtStartAside();
    const std::uint32_t sequence = GetClipboardSequenceNumber();
    const std::uint64_t since = GetTickCount64() - g_startedAt;
    // Whether something is there is asked last, only when all else says so:
    // under Wine the question goes to the clipboard's owner and waits for it.
    if (StaleClipboardToReport(g_sequenceAtStart, sequence, true, since, g_staleReported) &&
        StaleClipboardToReport(g_sequenceAtStart, sequence, CountClipboardFormats() > 0, since, g_staleReported)) {
        g_staleReported = true;
        ReportViolation(ViolationKind::ClipboardFilled);
    }
}

void OnClipboardUpdate()
{
    if (!g_examActive.load())
        return;
    // The window that opened the clipboard for the change: the browser's for
    // a copy in the form, none when this program emptied it; but any program
    // may name any window.
    OwnerFacts owner = OwnerOfWindow(GetClipboardOwner());
    if (OwnerLookupNeeded(owner))
        LookUpOwner(owner);
    std::optional<std::uint64_t> sinceCopyKey;
    if (g_copyKeyAt)
        sinceCopyKey = GetTickCount64() - *g_copyKeyAt;
    if (ClipboardChangeToReport(owner, CountClipboardFormats() > 0, sinceCopyKey))
        ReportViolationSpaced(ViolationKind::ClipboardFilled, g_lastClipboardReportTick);
}
