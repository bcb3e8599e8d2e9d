// Reports of exam events ("START", "VIOLATION", "FINISH") to the exam server.
#pragma once

#include "net/report_queue.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// Names the student of the exam last begun (BeginExamPresence), and puts the
// report in the one queue that a sender thread of its own works through
// in order: tried again after each failure (1, 2, 4, 8 s, then every 10 s)
// until the server takes it (2xx) or refuses it (another 4xx). A new report
// has the waiting one tried at once. Returns at once, whatever the network
// does; nothing is shown.
// With the running exam's session (BeginExamPresence), every try carries it.
ReportId SendExamEventAsync(const std::string& event, const std::string& detail);

// The exam as the sender knows it: copied in at the launch, so that the
// sender never reads what the GUI thread may change.
struct ExamPresence {
    // Whom the reports name.
    std::string studentName;
    std::string className;
    std::string token;
    std::string session;
    // Where the proctor's commands go (net/proctor_command.h).
    HWND window = nullptr;
};

// At the launch, before START: the reports made from now on name this
// student and carry the exam's session, and while the exam runs the sender
// posts a heartbeat whenever 15 s have passed without any request of this
// exam going out. Heartbeats are neither queued nor tried again, and never
// change the reports' order. An empty session: no header and no heartbeat,
// as with a server that hands out none.
void BeginExamPresence(const ExamPresence& exam);
// At the exam's end: no heartbeat from now on, and reports made later carry
// no session (they still name the same student). Reports already queued keep
// theirs on every try.
void EndExamPresence();
// A proctor's command is done: the running exam's heartbeat goes at once,
// ahead of any report, and tells it (net/proctor_command.h); one hurried
// just before the exam's end still goes, as that exam's last.
void HurryHeartbeatForDone();

// At the launch, once the watch runs: the sender watches the window
// thread's stamp (StampWatchTick). While the stamp is more than 5 s old no
// heartbeat goes out; once it is more than 10 s old the sender queues one
// report of its own, whose body `stallBody` makes (on the sender thread,
// once per stall). A stall of the whole program (the sender stood still
// too) counts only from the sender's return. Until EndExamPresence.
void WatchWindowThread(std::function<std::string()> stallBody);
// Each tick of the watch, on the window thread: the stamp is now. True when
// the sender has already reported the gap that this tick ends.
bool StampWatchTick(std::uint64_t now);

// What became of a report so far.
ReportFate FateOfReport(ReportId id);

// Set each time a report is delivered or refused; for a wait that also
// handles window messages.
HANDLE ReportProgressEvent();

// Has the waiting report tried at once, whatever its back-off: for the waits
// at the end of an exam and of the program.
void HurryReports();

// Hurries the reports, then waits, handling no messages, until every report
// made so far is delivered or refused, or timeoutMs has passed. True when
// none is left. For the end of the program: a report that hangs must not hold
// it for longer.
bool WaitForQueuedReports(DWORD timeoutMs);
