// The proctor's commands as they come in the heartbeat's answer, and what the
// program remembers of them through one exam: plain values only. The sender
// thread and the GUI thread meet through net/proctor_command.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class CommandKind { None, Message, End, Lock, Unlock };

struct ProctorCommand {
    CommandKind kind = CommandKind::None;  // None: the answer carries no command
    std::string id;
    std::string text;  // a message's, UTF-8, line breaks as '\n'
};

// A message longer than this (in characters, once cleaned) is cut to it.
inline constexpr std::size_t kMessageMaxChars = 300;

// 1 to 32 characters of [0-9A-Za-z_-].
bool IsCommandId(std::string_view id);

// A message as the student may see it: line breaks kept (CR LF, a lone CR
// and the Unicode line and paragraph separators each become '\n'), other
// control characters and the Unicode format characters (bidi overrides,
// zero-width ones, soft hyphen) dropped, a malformed UTF-8 sequence shown as
// U+FFFD, then cut to kMessageMaxChars characters.
std::string CleanMessageText(const std::string& utf8);

// The command of a heartbeat's answer, by the exact-form scans of the
// verify answer: "ok":true, "command" one of message, end, lock, unlock,
// "commandId" a command id, and for a message a "text" that holds more than
// blanks and line breaks once cleaned. Anything else: kind None.
ProctorCommand ReadProctorCommand(const std::string& answer);

// What the program did with each command of the running exam.
struct CommandMemory {
    std::vector<std::string> taken;  // handed to the GUI thread, not done yet
    std::vector<std::string> done;
};

enum class CommandVerdict {
    Act,           // new: hand it over (it is taken from now on)
    AlreadyTaken,  // handed over already and not done yet: nothing
    AlreadyDone,   // done in this exam: not again, but the server is told once more
};
CommandVerdict ConsiderCommand(CommandMemory& memory, const std::string& id);
// The GUI thread has acted on it: done for the rest of the exam.
void NoteCommandDone(CommandMemory& memory, const std::string& id);
// A command handed over that the GUI thread would not act on (no exam runs
// any more): forgotten, so that it could be handed over again.
void ForgetTakenCommand(CommandMemory& memory, const std::string& id);

// The commands of one exam between the sender and the GUI thread, and the
// one "done" still to be told to the server.
struct CommandChannel {
    std::string session;  // of the running exam; empty when none runs
    CommandMemory memory;
    std::string doneSession;  // the exam whose heartbeat is to carry doneId
    std::string doneId;
};

// At the launch: a fresh memory for the exam; a "done" of another exam is dropped.
void OpenChannel(CommandChannel& channel, const std::string& session);
// At the exam's end: no command of its answers is acted on from now on;
// a "done" still to be told stays for its last heartbeat.
void CloseChannel(CommandChannel& channel);
// The GUI thread has acted on the command: the next heartbeat tells it.
void ChannelCommandDone(CommandChannel& channel, const std::string& id);
// The id that a heartbeat of `session` carries as "done" (empty: none).
std::string DoneToTell(const CommandChannel& channel, const std::string& session);
// A heartbeat of `session` that carried `toldDone` got `reply` (accepted:
// the server answered 2xx). The told "done" is settled once accepted, and
// the command of the answer considered: returned when it is to be acted on.
// A command already done is told as done again with the next heartbeat.
ProctorCommand TakeHeartbeatAnswer(CommandChannel& channel, const std::string& session, const std::string& toldDone,
                                   bool accepted, const std::string& reply);
