// Event reports in-process, against the local test exam server: a refused
// sender thread leaves the reports queued, and the next report brings them
// all to the server, in order.
#include "app/globals.h"
#include "net/events.h"
#include "net/worker.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

int g_calls = 0;
bool RefuseButLook(std::function<void()>)
{
    ++g_calls;
    return false;
}

TEST(SendExamEventAsync, ARefusedSenderThreadKeepsTheReportsForTheNextTry)
{
    ASSERT_FALSE(server::Dir().empty()) << "no local exam server (ORVEL_SERVER_DIR_WIN)";
    server::Reset();
    g_calls = 0;
    g_startWorker = RefuseButLook;
    const ReportId start = SendExamEventAsync("START", "Siswa memulai ujian di aplikasi PC.");
    const ReportId violation = SendExamEventAsync("VIOLATION", "Siswa mencoba beralih dari jendela ujian PC (Pelanggaran ke-1)");
    EXPECT_EQ(g_calls, 2) << "each report asks for the sender while there is none";
    EXPECT_LT(start, violation);
    EXPECT_EQ(FateOfReport(start), ReportFate::Waiting);
    EXPECT_FALSE(WaitForQueuedReports(0));

    g_startWorker = StartDetachedWorker;
    const ReportId finish = SendExamEventAsync("FINISH", "Siswa menyelesaikan ujian di aplikasi PC.");
    EXPECT_TRUE(WaitForQueuedReports(20000)) << "the server at localhost takes every report";
    for (const ReportId id : {start, violation, finish})
        EXPECT_EQ(FateOfReport(id), ReportFate::Delivered) << id;
    // Delivered means recorded by the server: each once, in the order made.
    std::vector<std::string> events;
    for (const auto& r : server::RequestsTo("/api/exam/event")) {
        const std::size_t at = r.body.find("\"event\":\"");
        events.push_back(at == std::string::npos ? r.body : r.body.substr(at + 9, r.body.find('"', at + 9) - at - 9));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"START", "VIOLATION", "FINISH"}));
}

}  // namespace
