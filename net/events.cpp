#include "net/events.h"

#include "app/globals.h"
#include "net/exam_protocol.h"
#include "net/exam_server.h"
#include "net/http_post.h"
#include "net/worker.h"

void SendExamEventAsync(const std::string& event, const std::string& detail)
{
    std::string body = BuildEventBody(g_studentName, g_className, g_token, event, detail);
    // A refused thread loses this one report; the exam goes on regardless.
    g_startWorker([body = std::move(body)] {
        std::string reply;
        HttpPostJson(kExamServerHost, kEventPath, body, reply);
    });
}
