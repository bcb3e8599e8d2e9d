// An event report whose thread the system refuses is dropped quietly.
#include "app/globals.h"
#include "net/events.h"
#include "net/worker.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

int g_calls = 0;
bool RefuseButLook(std::function<void()>)
{
    ++g_calls;
    return false;
}

TEST(SendExamEventAsync, ARefusedThreadLosesTheReportAndNothingElse)
{
    g_calls = 0;
    g_startWorker = RefuseButLook;
    SendExamEventAsync("START", "Siswa memulai ujian di aplikasi PC.");
    SendExamEventAsync("FINISH", "Siswa menyelesaikan ujian di aplikasi PC.");
    g_startWorker = StartDetachedWorker;
    EXPECT_EQ(g_calls, 2) << "each report asks for its own thread";
}

}  // namespace
