// What the PC itself tells the exam (screens, the Windows session), on plain
// values.
#pragma once

#include <cstdint>

// A count of screens worth a report: more than one, and more than the last
// count seen (at the launch the last count is 1). A PC that starts the exam
// with two screens is reported once; unplugging one and plugging it in again
// is reported again.
bool MoreScreensToReport(int lastCount, int count);

// WM_WTSSESSION_CHANGE codes that take the PC away from the exam: the screen
// locked (WTS_SESSION_LOCK, 7), the console given to another user
// (WTS_CONSOLE_DISCONNECT, 2) or a remote session cut (WTS_REMOTE_DISCONNECT, 4).
// Coming back (unlock, connect) is nothing to report.
bool SessionChangeLeavesExam(std::uint32_t code);

// How long the program waits, once Windows has said the session ends
// (WM_ENDSESSION), for Windows to end it.
inline constexpr std::uint64_t kSessionEndGraceMs = 10000;

// The end of the session told at `endedAt` (GetTickCount64, ms; 0: none told)
// was not Windows': the program still runs kSessionEndGraceMs later.
bool SessionEndWasForged(std::uint64_t endedAt, std::uint64_t now);
