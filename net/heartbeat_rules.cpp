#include "net/heartbeat_rules.h"

#include <utility>

void StartHeartbeats(HeartbeatClock& clock, std::string session, std::uint64_t now)
{
    clock.session = std::move(session);
    clock.lastSentAt = now;
}

void StopHeartbeats(HeartbeatClock& clock)
{
    clock.session.clear();
    clock.lastSentAt = 0;
}

void NoteRequestSent(HeartbeatClock& clock, const std::string& session, std::uint64_t now)
{
    if (!clock.session.empty() && session == clock.session && now > clock.lastSentAt)
        clock.lastSentAt = now;
}

std::uint64_t MsUntilHeartbeat(const HeartbeatClock& clock, std::uint64_t now)
{
    if (clock.session.empty())
        return kNoHeartbeatDue;
    const std::uint64_t due = clock.lastSentAt + kHeartbeatAfterMs;
    return now >= due ? 0 : due - now;
}

void StartStampWatch(StampWatch& watch, std::uint64_t now)
{
    watch = StampWatch{};
    watch.lastLookAt = now;
    watch.countsFrom = now;
}

std::uint64_t LookAtStamp(StampWatch& watch, std::uint64_t stamp, std::uint64_t now)
{
    if (now > watch.lastLookAt && now - watch.lastLookAt > kSenderStoodStillMs)
        watch.countsFrom = now;
    if (now > watch.lastLookAt)
        watch.lastLookAt = now;
    const std::uint64_t from = stamp > watch.countsFrom ? stamp : watch.countsFrom;
    return now > from ? now - from : 0;
}

bool StampFresh(std::uint64_t age)
{
    return age <= kTickFreshMs;
}

bool StallToReport(StampWatch& watch, std::uint64_t stamp, std::uint64_t age)
{
    if (age <= kStallReportMs || (watch.stallReported && watch.reportedStamp == stamp))
        return false;
    watch.stallReported = true;
    watch.reportedStamp = stamp;
    return true;
}

bool StallAlreadyReported(const StampWatch& watch, std::uint64_t previousStamp)
{
    return watch.stallReported && watch.reportedStamp == previousStamp;
}
