// When the sender says "still here" for the running exam: plain values only;
// the sender thread (net/events.cpp) feeds it the times its requests go out.
#pragma once

#include <cstdint>
#include <string>

// Time from one heartbeat to the next. Reports between do not put it off:
// the heartbeat's answer carries the proctor's commands, and a student
// reported every 5 s is the one a proctor may want to lock.
inline constexpr std::uint64_t kHeartbeatAfterMs = 15000;
inline constexpr std::uint64_t kNoHeartbeatDue = UINT64_MAX;

struct HeartbeatClock {
    std::string session;          // of the running exam; empty: none runs, or it has no session
    std::uint64_t lastSentAt = 0;  // when its last heartbeat went out, or the launch (ms)
    bool hurried = false;          // due now: it tells the server a proctor's command is done
    std::string lastOf;            // an ended exam whose hurried heartbeat is still to go
};

// At the launch: the first heartbeat is due 15 s from now. An empty session: no
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
// The due heartbeat goes out at `now`: the next is due 15 s later.
void NoteHeartbeatSent(HeartbeatClock& clock, std::uint64_t now);
// Milliseconds until the next heartbeat is due: 0 when due now,
// kNoHeartbeatDue when none will be.
std::uint64_t MsUntilHeartbeat(const HeartbeatClock& clock, std::uint64_t now);

// The window thread's stamp (the time of the watch's last tick), as the
// sender judges it. The window thread holds the hooks, the bar and the
// watch: when it stops (ended or frozen from outside, or hung), the PC must
// not look like a working one.
inline constexpr std::uint64_t kTickFreshMs = 5000;     // heartbeats only while the stamp is no older
inline constexpr std::uint64_t kStallReportMs = 10000;  // older than this during an exam: reported, once
// During an exam the sender looks at the stamp at least this often.
inline constexpr std::uint64_t kStampLookEveryMs = 1000;
// A look this long after the one before: the sender stood still too (the
// whole program was frozen, or the PC asleep). The window thread then gets
// its own chance to come back and report the gap before the sender counts.
inline constexpr std::uint64_t kSenderStoodStillMs = 3000;

struct StampWatch {
    std::uint64_t lastLookAt = 0;  // the sender's previous look
    std::uint64_t countsFrom = 0;  // a stamp's age counts from here at the earliest
    bool stallReported = false;    // the stall of `reportedStamp` was reported
    std::uint64_t reportedStamp = 0;
};

// At the launch: the stamp's age counts from now, nothing reported.
void StartStampWatch(StampWatch& watch, std::uint64_t now);
// One look of the sender at `stamp`: how old it counts as now.
std::uint64_t LookAtStamp(StampWatch& watch, std::uint64_t stamp, std::uint64_t now);
// A heartbeat may go out: the stamp is no older than kTickFreshMs.
bool StampFresh(std::uint64_t age);
// The stall is to be reported now: older than kStallReportMs, and this
// stamp's stall not reported yet. Marks it reported.
bool StallToReport(StampWatch& watch, std::uint64_t stamp, std::uint64_t age);
// The tick that comes back after `previousStamp`: true when the sender has
// reported that very gap already, so it is not reported a second time.
bool StallAlreadyReported(const StampWatch& watch, std::uint64_t previousStamp);
