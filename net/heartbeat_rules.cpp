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
