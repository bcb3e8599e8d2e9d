#include "net/heartbeat_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const std::string kSession = "0123456789abcdef0123456789abcdef";

// The clock through one exam as the sender drives it: each step happens at
// `at` ms, then the time until the next heartbeat is read at `at`.
TEST(HeartbeatClock, DueFifteenSecondsAfterTheLastOfTheRunningExamAndNeverAfterItsEnd)
{
    enum class Step { Start, Heartbeat, Nothing, Stop };
    struct {
        const char* what;
        Step step;
        std::uint64_t at;
        std::uint64_t untilDue;
    } const rows[] = {
        {"before any exam", Step::Nothing, 500, kNoHeartbeatDue},
        {"the launch", Step::Start, 1000, 15000},
        {"a while later (reports between change nothing)", Step::Nothing, 9000, 7000},
        {"one ms short", Step::Nothing, 15999, 1},
        {"due", Step::Nothing, 16000, 0},
        {"still due when the sender is late", Step::Nothing, 16500, 0},
        {"the heartbeat goes out", Step::Heartbeat, 16500, 15000},
        {"the next one is due 15 s later", Step::Nothing, 31500, 0},
        {"sent", Step::Heartbeat, 31500, 15000},
        {"a time earlier than the last heartbeat", Step::Heartbeat, 30000, 16500},
        {"the exam ends", Step::Stop, 40000, kNoHeartbeatDue},
        {"long after the end", Step::Nothing, 90000, kNoHeartbeatDue},
        {"a stray note after the end", Step::Heartbeat, 91000, kNoHeartbeatDue},
        {"the next exam without a session", Step::Start, 100000, kNoHeartbeatDue},
        {"much later", Step::Nothing, 200000, kNoHeartbeatDue},
    };
    HeartbeatClock clock;
    bool withSession = true;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        switch (r.step) {
        case Step::Start:
            StartHeartbeats(clock, withSession ? kSession : std::string(), r.at);
            withSession = false;  // the second launch of the table has none
            break;
        case Step::Heartbeat: NoteHeartbeatSent(clock, r.at); break;
        case Step::Stop: StopHeartbeats(clock); break;
        case Step::Nothing: break;
        }
        EXPECT_EQ(MsUntilHeartbeat(clock, r.at), r.untilDue);
    }
}

// The sender's looks at the window thread's stamp through one exam: each
// row is a look at `at` ms with the stamp the last tick left; `steady`: the
// sender also looked once a second since the row before.
TEST(StampWatch, HeartbeatsOnlyWhileTheTickIsFreshAStallReportedOnceAndNotForAStandstillOfAll)
{
    struct {
        const char* what;
        bool steady;
        std::uint64_t stamp, at, age;
        bool fresh, report;
    } const rows[] = {
        {"the launch's own stamp", true, 1000, 1000, 0, true, false},
        {"a tick stamped after the look read the clock", true, 1500, 1400, 0, true, false},
        {"an ordinary tick", true, 2000, 2400, 400, true, false},
        {"5 s exactly since the last tick", true, 2000, 7000, 5000, true, false},
        {"just over: no heartbeat", true, 2000, 7001, 5001, false, false},
        {"10 s exactly: not yet", true, 2000, 12000, 10000, false, false},
        {"over 10 s: reported", true, 2000, 12001, 10001, false, true},
        {"the same stall later: not again", true, 2000, 13000, 11000, false, false},
        {"and later still", true, 2000, 40000, 38000, false, false},
        {"the tick is back", true, 40500, 41000, 500, true, false},
        {"a second stall is a new report", true, 40500, 50600, 10100, false, true},
        {"the tick back again", true, 51000, 51200, 200, true, false},
        {"a look 3 s exactly after the one before: the sender kept up", false, 51000, 54200, 3200, true, false},
        // The sender itself stood still 9 s (the whole program frozen): the
        // window thread's stamp is as old, but counts only from now.
        {"after a standstill of the whole program", false, 51000, 60200, 0, true, false},
        {"the window thread not back 5 s after that", true, 51000, 65201, 5001, false, false},
        {"nor 10 s after", true, 51000, 70201, 10001, false, true},
        {"the sender still 3001 ms: counts afresh", false, 51000, 73202, 0, true, false},
    };
    StampWatch watch;
    StartStampWatch(watch, 1000);
    std::uint64_t lastLook = 1000;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        for (std::uint64_t t = lastLook + kStampLookEveryMs; r.steady && t < r.at; t += kStampLookEveryMs)
            EXPECT_FALSE(StallToReport(watch, r.stamp, LookAtStamp(watch, r.stamp, t))) << "at " << t;
        const std::uint64_t age = LookAtStamp(watch, r.stamp, r.at);
        lastLook = r.at;
        EXPECT_EQ(age, r.age);
        EXPECT_EQ(StampFresh(age), r.fresh);
        EXPECT_EQ(StallToReport(watch, r.stamp, age), r.report);
    }
}

TEST(StampWatch, ATickThatComesBackAfterTheSendersReportDoesNotReportTheSameGap)
{
    StampWatch watch;
    StartStampWatch(watch, 1000);
    EXPECT_FALSE(StallAlreadyReported(watch, 1000)) << "nothing reported yet";
    for (std::uint64_t t = 2000; t <= 11000; t += 1000)
        EXPECT_FALSE(StallToReport(watch, 1000, LookAtStamp(watch, 1000, t)));
    EXPECT_FALSE(StallAlreadyReported(watch, 1000)) << "the tick may still come back and report it";
    EXPECT_TRUE(StallToReport(watch, 1000, LookAtStamp(watch, 1000, 11500)));
    EXPECT_TRUE(StallAlreadyReported(watch, 1000)) << "the gap that ends at the next tick";
    EXPECT_FALSE(StallAlreadyReported(watch, 12000)) << "a later gap is the tick's own";
    StartStampWatch(watch, 20000);
    EXPECT_FALSE(StallAlreadyReported(watch, 1000)) << "the next exam starts afresh";
}

}  // namespace
