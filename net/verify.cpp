#include "net/verify.h"

#include "net/exam_protocol.h"
#include "net/exam_server.h"
#include "net/http_post.h"
#include "net/worker.h"

#include <atomic>

// Made on the GUI thread, filled by the worker, taken back by the GUI thread
// when its message arrives. Only its address travels in the message, and the
// GUI thread reads it only if it is the slot it is waiting for.
struct VerifyHandOver {
    VerifyResult result;
    std::atomic<bool> filled{false};
};

namespace {

VerifyHandOver* g_awaited = nullptr;  // GUI thread only

// Runs on the worker: touches no global, so a window closed meanwhile (and
// the strings destroyed at exit) cannot be reached from here.
void VerifyWorker(HWND window, VerifyHandOver* slot, const std::string& body)
{
    std::string reply;
    const bool received = HttpPostJson(kExamServerHost, kVerifyPath, body, reply);
    CompleteVerifyHandOver(window, slot, ReadVerifyReply(received, reply, kExamServerHostUtf8));
}

}  // namespace

VerifyHandOver* BeginVerifyHandOver()
{
    // A slot given up on (its worker refused, or a second start forged while
    // one ran) is left to its worker: freeing it here could pull it from
    // under a worker still writing. It is a few bytes, once.
    g_awaited = new VerifyHandOver;
    return g_awaited;
}

void CompleteVerifyHandOver(HWND window, VerifyHandOver* slot, VerifyResult result)
{
    const WPARAM accepted = result.accepted ? 1 : 0;
    slot->result = std::move(result);
    slot->filled.store(true, std::memory_order_release);
    // If the window is gone the slot stays unclaimed; the process is ending.
    PostMessageW(window, WM_VERIFY_RESULT, accepted, reinterpret_cast<LPARAM>(slot));
}

std::unique_ptr<VerifyResult> TakeVerifyResult(LPARAM lParam)
{
    VerifyHandOver* slot = g_awaited;
    // The address is compared, never followed, until it is known to be ours.
    if (!slot || lParam != reinterpret_cast<LPARAM>(slot) || !slot->filled.load(std::memory_order_acquire))
        return nullptr;
    g_awaited = nullptr;
    auto result = std::make_unique<VerifyResult>(std::move(slot->result));
    delete slot;
    return result;
}

bool StartVerification(HWND window, const std::string& studentName, const std::string& className,
                       const std::string& token)
{
    std::string body = BuildVerifyBody(studentName, className, token);
    VerifyHandOver* slot = BeginVerifyHandOver();
    if (g_startWorker([window, slot, body = std::move(body)] { VerifyWorker(window, slot, body); }))
        return true;
    // No thread took it: nobody else can reach the slot.
    g_awaited = nullptr;
    delete slot;
    return false;
}
