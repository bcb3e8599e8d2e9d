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
    bool hurried = false;          // due now: it tells the server a proctor's command is done
    std::string lastOf;            // an ended exam whose hurried heartbeat is still to go
};

// At the launch: the quiet time counts from now. An empty session: no
// heartbeats for this exam.
void StartHeartbeats(HeartbeatClock& clock, std::string session, std::uint64_t now);
// At the exam's end: none from now on, but for one already hurried, which
// still goes (its exam's last).
void StopHeartbeats(HeartbeatClock& clock);
// Due at once, ahead of the reports, for the running exam.
void HurryHeartbeat(HeartbeatClock& clock);
// True when a hurried heartbeat is due: it goes before any report.
bool HeartbeatHurried(const HeartbeatClock& clock);
// The session the due heartbeat carries.
std::string HeartbeatSession(const HeartbeatClock& clock);
// The due heartbeat goes out at `now`.
void NoteHeartbeatSent(HeartbeatClock& clock, std::uint64_t now);
// A request carrying `session` goes out at `now` (a try of a report, or a
// heartbeat): the quiet time starts again, if it is the running exam's. A
// report of an earlier exam says nothing about this one.
void NoteRequestSent(HeartbeatClock& clock, const std::string& session, std::uint64_t now);
// Milliseconds until the next heartbeat is due: 0 when due now,
// kNoHeartbeatDue when none will be.
std::uint64_t MsUntilHeartbeat(const HeartbeatClock& clock, std::uint64_t now);
