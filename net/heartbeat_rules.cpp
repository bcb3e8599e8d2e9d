#include "net/heartbeat_rules.h"

#include <utility>

void StartHeartbeats(HeartbeatClock& clock, std::string session, std::uint64_t now)
{
    clock.session = std::move(session);
    clock.lastSentAt = now;
    clock.hurried = false;
    clock.lastOf.clear();
}

void StopHeartbeats(HeartbeatClock& clock)
{
    if (clock.hurried && !clock.session.empty())
        clock.lastOf = clock.session;
    clock.session.clear();
    clock.lastSentAt = 0;
    clock.hurried = false;
}

void HurryHeartbeat(HeartbeatClock& clock)
{
    if (!clock.session.empty())
        clock.hurried = true;
}

bool HeartbeatHurried(const HeartbeatClock& clock)
{
    return clock.hurried || !clock.lastOf.empty();
}

std::string HeartbeatSession(const HeartbeatClock& clock)
{
    return clock.session.empty() ? clock.lastOf : clock.session;
}

void NoteHeartbeatSent(HeartbeatClock& clock, std::uint64_t now)
{
    clock.hurried = false;
    clock.lastOf.clear();
    if (!clock.session.empty() && now > clock.lastSentAt)
        clock.lastSentAt = now;
}

std::uint64_t MsUntilHeartbeat(const HeartbeatClock& clock, std::uint64_t now)
{
    if (HeartbeatHurried(clock))
        return 0;
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
