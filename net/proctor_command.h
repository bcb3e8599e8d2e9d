// The proctor's commands between the heartbeat sender and the GUI thread:
// the sender hands over each new command of the running exam's heartbeat
// answers, the GUI thread acts on it and says so, and the next heartbeat,
// hurried, tells the server it is done. Rules in net/proctor_command_rules.h.
#pragma once

#include "net/proctor_command_rules.h"

#include <windows.h>

#include <optional>
#include <string>

// A command handed over, posted to the window of OpenProctorChannel. The
// program's other messages: app/globals.h.
inline constexpr UINT WM_PROCTOR_COMMAND = WM_USER + 3;

// At the launch (from BeginExamPresence): commands of this session's
// answers go to `window` as WM_PROCTOR_COMMAND. An empty session: none.
void OpenProctorChannel(HWND window, const std::string& session);
// At the exam's end (from EndExamPresence): no command is handed over from
// now on; one handed over and not taken yet is refused when it arrives.
void CloseProctorChannel();

// Sender thread: the body of a heartbeat of `session`, with the "done" it
// carries put in toldDone (empty: none).
std::string ProctorHeartbeatBody(const std::string& session, std::string& toldDone);
// Sender thread: the answer to that heartbeat (answered: a response came;
// status: its HTTP status). A new command is posted to the window.
void OnHeartbeatAnswer(const std::string& session, const std::string& toldDone, bool answered, int status,
                       const std::string& reply);

// GUI thread: the command of this WM_PROCTOR_COMMAND if the sender posted it
// for the exam still running; nothing for any other (another program can
// post the number too, with any parameters).
std::optional<ProctorCommand> TakeProctorCommand(LPARAM lParam);
// GUI thread: acted on; a heartbeat goes at once and tells it.
void ProctorCommandDone(const std::string& id);
