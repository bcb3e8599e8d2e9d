#include "net/heartbeat_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const std::string kSession = "0123456789abcdef0123456789abcdef";
const std::string kEarlier = "ffffffffffffffffffffffffffffffff";

// The clock through one exam as the sender drives it: each step happens at
// `at` ms, then the time until the next heartbeat is read at `at`.
TEST(HeartbeatClock, DueAfterFifteenQuietSecondsOfTheRunningExamAndNeverAfterItsEnd)
{
    enum class Step { Start, Report, Heartbeat, EarlierExamsReport, ReportWithoutSession, Nothing, Stop };
    struct {
        const char* what;
        Step step;
        std::uint64_t at;
        std::uint64_t untilDue;
    } const rows[] = {
        {"before any exam", Step::Nothing, 500, kNoHeartbeatDue},
        {"the launch", Step::Start, 1000, 15000},
        {"quiet for a while", Step::Nothing, 9000, 7000},
        {"START goes out", Step::Report, 9000, 15000},
        {"one ms short", Step::Nothing, 23999, 1},
        {"due", Step::Nothing, 24000, 0},
        {"still due when the sender is late", Step::Nothing, 24500, 0},
        {"the heartbeat goes out", Step::Heartbeat, 24500, 15000},
        {"the next one is due 15 s later", Step::Nothing, 39500, 0},
        {"a report's try just before it", Step::Report, 39499, 15000},
        {"an earlier exam's report, still tried", Step::EarlierExamsReport, 45000, 9499},
        {"a report without a session", Step::ReportWithoutSession, 46000, 8499},
        {"a time earlier than the last request", Step::Report, 30000, 24499},
        {"the exam ends", Step::Stop, 50000, kNoHeartbeatDue},
        {"long after the end", Step::Nothing, 90000, kNoHeartbeatDue},
        {"a report made after the end", Step::Report, 91000, kNoHeartbeatDue},
        {"the next exam without a session", Step::Start, 100000, kNoHeartbeatDue},
        {"its reports", Step::ReportWithoutSession, 101000, kNoHeartbeatDue},
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
        case Step::Report:
        case Step::Heartbeat: NoteRequestSent(clock, kSession, r.at); break;
        case Step::EarlierExamsReport: NoteRequestSent(clock, kEarlier, r.at); break;
        case Step::ReportWithoutSession: NoteRequestSent(clock, "", r.at); break;
        case Step::Stop: StopHeartbeats(clock); break;
        case Step::Nothing: break;
        }
        EXPECT_EQ(MsUntilHeartbeat(clock, r.at), r.untilDue);
    }
}

}  // namespace
