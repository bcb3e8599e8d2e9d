// The clipboard during an exam, on plain values.
#pragma once

#include "kiosk/watch/owner_rules.h"

#include <cstdint>
#include <optional>

// A change that the exam's own copy may explain: a copy key passed the hook
// at most this long before it.
inline constexpr std::uint64_t kCopyKeyExplainsMs = 2000;
// What was on the clipboard before the launch and is still there this long
// after it: the start could not empty it.
inline constexpr std::uint64_t kStaleClipboardAfterMs = 3000;

// A key going down (WM_KEYDOWN or WM_SYSKEYDOWN) that copies in the form:
// Ctrl+C, Ctrl+X, Ctrl+Insert, Shift+Delete.
bool IsCopyKey(std::uint32_t vk, std::uint32_t message, bool ctrl, bool shift);

// A clipboard change worth a report: it left something to paste, and either
// the window that made it (the clipboard's owner) is not the exam's (see
// BelongsToExam), or it is and no copy key passed within kCopyKeyExplainsMs
// before it (`msSinceCopyKey`; nullopt: none in this exam). Any program may
// open the clipboard with any window as its owner, the exam's included. A
// change without an owner window can come from any program, and counts;
// the program's own emptying leaves nothing, and never does.
bool ClipboardChangeToReport(const OwnerFacts& owner, bool holdsSomething, std::optional<std::uint64_t> msSinceCopyKey);

// What was on the clipboard before the launch (its sequence number then) is
// still there (the same number, something to paste) kStaleClipboardAfterMs
// or more after the launch, and has not been reported yet.
bool StaleClipboardToReport(std::uint32_t sequenceAtStart, std::uint32_t sequenceNow, bool holdsSomething,
                            std::uint64_t msSinceStart, bool reportedAlready);
