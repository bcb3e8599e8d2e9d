#include "kiosk/watch/pc_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// The counts an exam sees in order (the launch first), and which are reported.
TEST(MoreScreensToReport, AtTheLaunchWithTwoAndAgainOnlyWhenTheCountGrows)
{
    struct {
        const char* what;
        std::vector<int> counts;
        std::vector<bool> reported;
    } const rows[] = {
        {"one screen all along", {1, 1, 1}, {false, false, false}},
        {"two at the launch, then a change of resolution", {2, 2}, {true, false}},
        {"one, then a second plugged in, then a third", {1, 2, 3}, {false, true, true}},
        {"two, one unplugged, plugged in again", {2, 1, 2}, {true, false, true}},
        {"three, then one of them unplugged", {3, 2}, {true, false}},
        {"no count to be had (0)", {0, 1}, {false, false}},
    };
    for (const auto& r : rows) {
        int last = 1;  // the launch starts from one screen
        for (std::size_t i = 0; i < r.counts.size(); ++i) {
            EXPECT_EQ(MoreScreensToReport(last, r.counts[i]), r.reported[i]) << r.what << ", count " << i;
            last = r.counts[i];
        }
    }
}

TEST(SessionChangeLeavesExam, LockSwitchAndDisconnectDoComingBackDoesNot)
{
    // WTS_CONSOLE_CONNECT 1 ... WTS_SESSION_TERMINATE 11 and beyond.
    const bool leaves[] = {false, false, true, false, true, false, false, true, false, false, false, false, false};
    for (std::uint32_t code = 0; code < std::size(leaves); ++code)
        EXPECT_EQ(SessionChangeLeavesExam(code), leaves[code]) << code;
}

TEST(SessionEndWasForged, TheProgramStillRunsTenSecondsAfterTheEndWasTold)
{
    struct {
        std::uint64_t endedAt, now;
        bool forged;
    } const rows[] = {
        {0, 50000, false},        // never told
        {1000, 1000, false},      {1000, 10999, false}, {1000, 11000, true},
        {1000, 500000, true},     {1000, 999, false},  // a clock behind the note
    };
    for (const auto& r : rows)
        EXPECT_EQ(SessionEndWasForged(r.endedAt, r.now), r.forged) << r.now << " after " << r.endedAt;
}

}  // namespace
