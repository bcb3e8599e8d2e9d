// Reports of exam events ("START", "VIOLATION", "FINISH") to the exam server.
#pragma once

#include "net/report_queue.h"

#include <windows.h>

#include <string>

// Copies the student's name, class and token now, on the GUI thread, and puts
// the report in the one queue that a sender thread of its own works through
// in order: tried again after each failure (1, 2, 4, 8 s, then every 10 s)
// until the server takes it (2xx) or refuses it (another 4xx). A new report
// has the waiting one tried at once. Returns at once, whatever the network
// does; nothing is shown.
// With the running exam's session (BeginExamPresence), every try carries it.
ReportId SendExamEventAsync(const std::string& event, const std::string& detail);

// At the launch, before START: the reports made from now on carry the
// exam's session, and while the exam runs the sender posts a heartbeat
// whenever 15 s have passed without any request of this exam going out.
// Heartbeats are neither queued nor tried again, and never change the
// reports' order. An empty session: no header and no heartbeat, as with a
// server that hands out none.
void BeginExamPresence(const std::string& session);
// At the exam's end: no heartbeat from now on, and reports made later carry
// no session. Reports already queued keep theirs on every try.
void EndExamPresence();
// A proctor's command is done: the running exam's heartbeat goes at once,
// ahead of any report, and tells it (net/proctor_command.h); one hurried
// just before the exam's end still goes, as that exam's last.
void HurryHeartbeatForDone();

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
