#include "net/report_queue.h"

#include <algorithm>

namespace {

// Refused reports remembered for FateOf; older ones read as delivered, which
// no caller asks about (only the report just made is waited for).
constexpr std::size_t kRefusedRemembered = 64;

}  // namespace

ReplyKind ClassifyReply(bool answered, int status)
{
    if (!answered)
        return ReplyKind::Failed;
    if (status >= 200 && status <= 299)
        return ReplyKind::Delivered;
    // The server took it and said no: trying again cannot help, and a report
    // held back here would hold back every report after it.
    if (status >= 400 && status <= 499 && status != 408 && status != 429)
        return ReplyKind::Refused;
    return ReplyKind::Failed;
}

std::uint32_t RetryDelayMs(int failedTries)
{
    if (failedTries <= 1)
        return 1000;
    if (failedTries >= 5)
        return 10000;
    return 1000u << (failedTries - 1);  // 2, 4, 8 s
}

ReportId AddReport(ReportQueue& queue, std::string body, std::string idempotencyKey, std::string session)
{
    const ReportId id = ++queue.lastId;
    queue.waiting.push_back({id, std::move(body), std::move(idempotencyKey), std::move(session)});
    HurryFront(queue);
    return id;
}

void HurryFront(ReportQueue& queue)
{
    queue.failedTries = 0;
    queue.nextTryAt = 0;
}

const QueuedReport* DueReport(const ReportQueue& queue, std::uint64_t now)
{
    if (queue.waiting.empty() || now < queue.nextTryAt)
        return nullptr;
    return &queue.waiting.front();
}

std::uint64_t MsUntilDue(const ReportQueue& queue, std::uint64_t now)
{
    if (queue.waiting.empty())
        return kNoReportDue;
    return now >= queue.nextTryAt ? 0 : queue.nextTryAt - now;
}

void SettleFront(ReportQueue& queue, ReplyKind outcome, std::uint64_t now)
{
    if (queue.waiting.empty())
        return;
    if (outcome == ReplyKind::Failed) {
        ++queue.failedTries;
        queue.nextTryAt = now + RetryDelayMs(queue.failedTries);
        return;
    }
    const ReportId id = queue.waiting.front().id;
    queue.waiting.pop_front();
    queue.settledThrough = id;
    if (outcome == ReplyKind::Refused) {
        queue.refused.push_back(id);
        if (queue.refused.size() > kRefusedRemembered)
            queue.refused.erase(queue.refused.begin());
    }
    queue.failedTries = 0;
    queue.nextTryAt = 0;
}

ReportFate FateOf(const ReportQueue& queue, ReportId id)
{
    if (id > queue.settledThrough)
        return ReportFate::Waiting;
    if (std::find(queue.refused.begin(), queue.refused.end(), id) != queue.refused.end())
        return ReportFate::Refused;
    return ReportFate::Delivered;
}

std::string IdempotencyKey(const std::array<std::uint8_t, 16>& randomBytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string key;
    key.reserve(32);
    for (const std::uint8_t byte : randomBytes) {
        key += kHex[byte >> 4];
        key += kHex[byte & 0x0F];
    }
    return key;
}
