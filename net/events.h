// Fire-and-forget reports of exam events ("START", "VIOLATION", "FINISH").
#pragma once

#include <string>

// Copies the student's name, class and token now, on the GUI thread, and posts
// the report from a detached worker. Returns at once; nothing is ever shown,
// and a report that cannot be sent is lost.
void SendExamEventAsync(const std::string& event, const std::string& detail);
