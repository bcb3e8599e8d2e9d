// The exam's event reports on their way to the server: one queue, in the
// order they were made, each tried until the server takes it. Plain values
// only; the sender thread (net/events.cpp) feeds it results and times.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

using ReportId = std::uint64_t;  // 1, 2, 3, ... in the order the reports were made

// What one try of a report came to.
enum class ReplyKind {
    Delivered,  // a status from 200 to 299
    Refused,    // another 4xx (not 408 or 429): the server took it and will not have it
    Failed,     // no connection, a reply cut short, 408, 429, 5xx or anything else
};
ReplyKind ClassifyReply(bool answered, int status);

// How long to wait after the n-th failed try of a report (n from 1):
// 1, 2, 4 and 8 seconds, then every 10 seconds for as long as it takes (or
// until the queue is hurried).
std::uint32_t RetryDelayMs(int failedTries);

struct QueuedReport {
    ReportId id = 0;
    std::string body;            // fixed when the report is made
    std::string idempotencyKey;  // the same on every try of this report
    std::string session;         // of the exam it belongs to, on every try; empty: none
};

enum class ReportFate { Waiting, Delivered, Refused };

struct ReportQueue {
    std::deque<QueuedReport> waiting;  // the front one is the one being tried
    // Of the front report; both go back to 0 when it leaves, so a report that
    // comes to the front may go at once.
    int failedTries = 0;
    std::uint64_t nextTryAt = 0;       // when the front report may be tried (ms)
    ReportId lastId = 0;
    ReportId settledThrough = 0;       // every report up to this one was delivered or refused
    std::vector<ReportId> refused;     // the last refused ones among those
};

inline constexpr std::uint64_t kNoReportDue = UINT64_MAX;

// Adds a report at the back and hurries the front one (HurryFront); its id.
ReportId AddReport(ReportQueue& queue, std::string body, std::string idempotencyKey, std::string session = {});
// The front report may be tried at once, whatever its back-off, and a failure
// of that try waits 1 s again: something new has happened (a report, the end
// of the exam or of the program), and a server that came back meanwhile
// should hear of it now, not after the rest of a 10 s wait.
void HurryFront(ReportQueue& queue);
// The front report when it may be tried at `now` (ms), else null.
const QueuedReport* DueReport(const ReportQueue& queue, std::uint64_t now);
// Milliseconds until the front report may be tried: 0 when it may now,
// kNoReportDue when none waits.
std::uint64_t MsUntilDue(const ReportQueue& queue, std::uint64_t now);
// The outcome of trying the front report at `now`: delivered or refused, it
// leaves and the next one may go at once; failed, it waits its turn again.
void SettleFront(ReportQueue& queue, ReplyKind outcome, std::uint64_t now);
ReportFate FateOf(const ReportQueue& queue, ReportId id);

// The header value that lets a server tell a repeat from a new report: the
// 16 random bytes in 32 lower-case hex digits.
std::string IdempotencyKey(const std::array<std::uint8_t, 16>& randomBytes);
