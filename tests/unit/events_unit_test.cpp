// An event report whose thread the system refuses is dropped quietly.
#include "app/globals.h"
#include "net/events.h"
#include "net/worker.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::string g_seenBody;
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
    g_examActive = true;
    SendExamEventAsync("START", "Siswa memulai ujian di aplikasi PC.");
    SendExamEventAsync("FINISH", "Siswa menyelesaikan ujian di aplikasi PC.");
    g_startWorker = StartDetachedWorker;
    EXPECT_EQ(g_calls, 2) << "each report asks for its own thread";
    EXPECT_TRUE(g_examActive.load()) << "the exam goes on";
    g_examActive = false;
}

}  // namespace
