#include "net/verify.h"

#include "app/globals.h"
#include "net/exam_protocol.h"
#include "net/exam_server.h"
#include "net/http_post.h"
#include "net/worker.h"

namespace {

// Runs on the worker: touches no global, so a window closed meanwhile (and
// the strings destroyed at exit) cannot be reached from here.
void VerifyWorker(HWND window, const std::string& body)
{
    std::string reply;
    const bool received = HttpPostJson(kExamServerHost, kVerifyPath, body, reply);
    auto* result = new VerifyResult(ReadVerifyReply(received, reply, kExamServerHostUtf8));
    const WPARAM accepted = result->accepted ? 1 : 0;
    if (!PostMessageW(window, WM_VERIFY_RESULT, accepted, reinterpret_cast<LPARAM>(result)))
        delete result;
}

}  // namespace

bool StartVerification(HWND window, const std::string& studentName, const std::string& className,
                       const std::string& token)
{
    std::string body = BuildVerifyBody(studentName, className, token);
    return g_startWorker([window, body = std::move(body)] { VerifyWorker(window, body); });
}
