// Closing the start screen while a verification waits for the server: the
// result may come before, during or after the shutdown. The server holds the
// reply until the test lets it go, so each order is certain.
#include "app_fixture.h"
#include "browser_control.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <string>

using namespace e2e;

namespace {

using CloseWhileVerifying = ServedAppTest;

// A few rounds of each order: the soak's forty exams in one run, each ended
// a way of its own, do the many launches and closes.
TEST_F(CloseWhileVerifying, ThreeRoundsOfEachOrderEndWithExitCodeZero)
{
    constexpr int kRounds = 6;
    int codes[2][2] = {};  // [order][exit code 0 or not]
    for (int round = 0; round < kRounds; ++round) {
        const bool closeFirst = round % 2 == 0;
        SCOPED_TRACE(round);
        if (round > 0)
            LaunchApp();
        const std::string release = "release-close-" + std::to_string(round);
        server::Answer held;
        held.body = R"({"ok":false,"error":"Token tidak dikenal."})";
        held.holdUntil = release;
        server::SetAnswers({{"/api/exam/verify", held}});
        server::ClearRequests();
        FillAndStart(L"Budi", L"5A", L"ABC");
        ASSERT_EQ(server::WaitForRequests("/api/exam/verify", 1, 10000).size(), 1u);

        long code;
        if (closeFirst) {
            PostMessageW(app.main, WM_CLOSE, 0, 0);
            code = driver::WaitForExit(app, 10000);
            server::Release(release);
        } else {
            server::Release(release);
            code = driver::CloseAndWait(app);  // does not wait for the result
        }
        if (code == -1)
            driver::CloseAndWait(app);  // a hung one is killed, not left behind
        EXPECT_EQ(code, 0) << (closeFirst ? "closed, then the reply" : "the reply, then closed at once");
        ++codes[closeFirst][code == 0 ? 0 : 1];
    }
    printf("close while verifying: closed then reply %d/%d exit 0, reply then closed %d/%d exit 0\n", codes[1][0],
           kRounds / 2, codes[0][0], kRounds / 2);
}

}  // namespace
