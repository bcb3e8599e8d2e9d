#include "net/report_queue.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ClassifyReply, OnlyA2xxIsDeliveredAndOnlyARefusalIsGivenUp)
{
    struct {
        bool answered;
        int status;
        ReplyKind kind;
    } const rows[] = {
        {false, 0, ReplyKind::Failed},  // no connection, or a reply cut short
        {true, 200, ReplyKind::Delivered}, {true, 204, ReplyKind::Delivered}, {true, 299, ReplyKind::Delivered},
        {true, 199, ReplyKind::Failed},    {true, 300, ReplyKind::Failed},    {true, 302, ReplyKind::Failed},
        {true, 400, ReplyKind::Refused},   {true, 404, ReplyKind::Refused},   {true, 413, ReplyKind::Refused},
        {true, 499, ReplyKind::Refused},
        {true, 408, ReplyKind::Failed},    {true, 429, ReplyKind::Failed},    // come back later
        {true, 500, ReplyKind::Failed},    {true, 503, ReplyKind::Failed},    {true, 599, ReplyKind::Failed},
        {true, 0, ReplyKind::Failed},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ClassifyReply(r.answered, r.status), r.kind) << r.answered << " " << r.status;
}

TEST(RetryDelayMs, OneTwoFourEightThenEveryTenSeconds)
{
    const std::uint32_t expected[] = {1000, 2000, 4000, 8000, 10000, 10000, 10000};
    for (int tries = 1; tries <= 7; ++tries)
        EXPECT_EQ(RetryDelayMs(tries), expected[tries - 1]) << tries;
    EXPECT_EQ(RetryDelayMs(1000), 10000u);
}

// The queue as the sender thread drives it: which report goes when, after
// which failures, and what became of each.
TEST(ReportQueue, InTheOrderMadeEachTriedOnItsScheduleUntilTakenOrRefused)
{
    ReportQueue queue;
    EXPECT_EQ(DueReport(queue, 0), nullptr);
    EXPECT_EQ(MsUntilDue(queue, 0), kNoReportDue);
    const ReportId start = AddReport(queue, "start", "k1");
    const ReportId violation = AddReport(queue, "violation", "k2");
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(violation, 2u);

    // START fails five times at once, and waits 1, 2, 4, 8, then 10 s.
    std::uint64_t now = 50;
    const std::uint64_t waits[] = {1000, 2000, 4000, 8000, 10000, 10000};
    for (const std::uint64_t wait : waits) {
        const QueuedReport* due = DueReport(queue, now);
        ASSERT_NE(due, nullptr);
        EXPECT_EQ(due->id, start) << "the front report, and no other, is tried";
        EXPECT_EQ(due->idempotencyKey, "k1");
        SettleFront(queue, ReplyKind::Failed, now);
        EXPECT_EQ(DueReport(queue, now + wait - 1), nullptr) << "not before " << wait << " ms";
        EXPECT_EQ(MsUntilDue(queue, now + wait - 1), 1u);
        now += wait;
    }
    const ReportId finish = AddReport(queue, "finish", "k3");  // made while START still fails
    EXPECT_EQ(FateOf(queue, start), ReportFate::Waiting);

    // START goes; the next one may go at once, whatever START went through.
    SettleFront(queue, ReplyKind::Delivered, now);
    EXPECT_EQ(FateOf(queue, start), ReportFate::Delivered);
    ASSERT_NE(DueReport(queue, now), nullptr);
    EXPECT_EQ(DueReport(queue, now)->id, violation);
    EXPECT_EQ(DueReport(queue, now)->body, "violation");

    // A refused one is given up and the next goes at once.
    SettleFront(queue, ReplyKind::Refused, now);
    EXPECT_EQ(FateOf(queue, violation), ReportFate::Refused);
    ASSERT_NE(DueReport(queue, now), nullptr);
    EXPECT_EQ(DueReport(queue, now)->id, finish);
    SettleFront(queue, ReplyKind::Failed, now);
    EXPECT_EQ(MsUntilDue(queue, now), 1000u) << "its own failures count from the first";
    now += 1000;
    SettleFront(queue, ReplyKind::Delivered, now);
    EXPECT_EQ(FateOf(queue, finish), ReportFate::Delivered);
    EXPECT_EQ(FateOf(queue, start), ReportFate::Delivered);
    EXPECT_EQ(FateOf(queue, violation), ReportFate::Refused);
    EXPECT_TRUE(queue.waiting.empty());
    EXPECT_EQ(MsUntilDue(queue, now), kNoReportDue);

    // A report made into an empty queue goes at once.
    const ReportId next = AddReport(queue, "next", "k4");
    EXPECT_EQ(next, 4u);
    EXPECT_EQ(FateOf(queue, next), ReportFate::Waiting);
    EXPECT_EQ(MsUntilDue(queue, now), 0u);

    // Its failures, with nothing new made meanwhile, are its own: the report
    // behind it starts from 1 s again once it goes.
    const ReportId after = AddReport(queue, "after", "k5");
    for (const std::uint64_t wait : {1000u, 2000u, 4000u}) {
        SettleFront(queue, ReplyKind::Failed, now);
        EXPECT_EQ(MsUntilDue(queue, now), wait);
        now += wait;
    }
    SettleFront(queue, ReplyKind::Delivered, now);
    EXPECT_EQ(DueReport(queue, now)->id, after);
    SettleFront(queue, ReplyKind::Failed, now);
    EXPECT_EQ(MsUntilDue(queue, now), 1000u) << "not 8 s: the failures of the one before do not count";
}

// Only the report just made is ever asked about, but a burst of refusals must
// not make it read as delivered: the newest 64 refusals are kept.
TEST(ReportQueue, RemembersTheNewestSixtyFourRefusals)
{
    ReportQueue queue;
    for (int i = 0; i < 65; ++i) {
        AddReport(queue, "violation", "k");
        SettleFront(queue, ReplyKind::Refused, 0);
    }
    EXPECT_EQ(FateOf(queue, 1), ReportFate::Delivered) << "the oldest is forgotten";
    EXPECT_EQ(FateOf(queue, 2), ReportFate::Refused) << "64 kept, not 63";
    EXPECT_EQ(FateOf(queue, 65), ReportFate::Refused) << "the newest is kept";
}

// Something new (a report, the end of the exam or of the program) has the
// waiting report tried at once, and its back-off starts again from 1 s; the
// order stays.
TEST(ReportQueue, ANewReportOrAHurryTriesTheFrontAtOnceAndStartsItsBackOffAgain)
{
    ReportQueue queue;
    const ReportId start = AddReport(queue, "start", "k1");
    std::uint64_t now = 0;
    for (int i = 0; i < 6; ++i) {  // the server has been away for half a minute
        SettleFront(queue, ReplyKind::Failed, now);
        now += MsUntilDue(queue, now);
    }
    SettleFront(queue, ReplyKind::Failed, now);
    EXPECT_EQ(MsUntilDue(queue, now + 1), 9999u) << "a 10 s wait";

    AddReport(queue, "violation", "k2");
    ASSERT_NE(DueReport(queue, now + 1), nullptr) << "a new report: the front is tried at once";
    EXPECT_EQ(DueReport(queue, now + 1)->id, start) << "still in order";
    SettleFront(queue, ReplyKind::Failed, now + 1);
    EXPECT_EQ(MsUntilDue(queue, now + 1), 1000u) << "and waits 1 s after that failure";

    SettleFront(queue, ReplyKind::Failed, now + 1001);
    SettleFront(queue, ReplyKind::Failed, now + 3001);
    EXPECT_EQ(MsUntilDue(queue, now + 3001), 4000u);
    HurryFront(queue);
    EXPECT_EQ(MsUntilDue(queue, now + 3002), 0u) << "hurried for the finish or exit wait";
    EXPECT_EQ(DueReport(queue, now + 3002)->idempotencyKey, "k1") << "the same report, the same key";
    SettleFront(queue, ReplyKind::Delivered, now + 3002);
    EXPECT_EQ(FateOf(queue, start), ReportFate::Delivered);
    EXPECT_EQ(DueReport(queue, now + 3002)->body, "violation");

    SettleFront(queue, ReplyKind::Delivered, now + 3003);
    HurryFront(queue);  // an empty queue stays empty
    EXPECT_EQ(MsUntilDue(queue, now + 3003), kNoReportDue);
}

TEST(IdempotencyKey, ThirtyTwoLowerCaseHexDigitsOfTheBytes)
{
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 17 + 0x0A);
    EXPECT_EQ(IdempotencyKey(bytes), "0a1b2c3d4e5f708192a3b4c5d6e7f809");
    EXPECT_EQ(IdempotencyKey({}), std::string(32, '0'));
}

}  // namespace
