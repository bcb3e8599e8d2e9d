// When the sender says "still here" for the running exam: plain values only;
// the sender thread (net/events.cpp) feeds it the times its requests go out.
#pragma once

#include <cstdint>
#include <string>

// Quiet time after which a heartbeat is due.
inline constexpr std::uint64_t kHeartbeatAfterMs = 15000;
inline constexpr std::uint64_t kNoHeartbeatDue = UINT64_MAX;

struct HeartbeatClock {
    std::string session;          // of the running exam; empty: none runs, or it has no session
    std::uint64_t lastSentAt = 0;  // when the last request of that exam went out (ms)
};

// At the launch: the quiet time counts from now. An empty session: no
// heartbeats for this exam.
void StartHeartbeats(HeartbeatClock& clock, std::string session, std::uint64_t now);
// At the exam's end: none from now on.
void StopHeartbeats(HeartbeatClock& clock);
// A request carrying `session` goes out at `now` (a try of a report, or a
// heartbeat): the quiet time starts again, if it is the running exam's. A
// report of an earlier exam says nothing about this one.
void NoteRequestSent(HeartbeatClock& clock, const std::string& session, std::uint64_t now);
// Milliseconds until the next heartbeat is due: 0 when due now,
// kNoHeartbeatDue when none will be.
std::uint64_t MsUntilHeartbeat(const HeartbeatClock& clock, std::uint64_t now);
