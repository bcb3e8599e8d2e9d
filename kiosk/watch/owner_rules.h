// Which processes are the exam's, on plain values: the one rule behind the
// watch's verdicts on the window in front, the windows on top and the
// clipboard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What is known of the process that owns a window.
struct OwnerFacts {
    std::uint32_t pid = 0;          // 0: no process (no window to ask)
    bool ownProcess = false;        // this program
    std::uint32_t browserPid = 0;   // the launched browser, 0 if none
    bool examJob = false;           // the exam's browser runs in a job of its own
    // Read only when OwnerLookupNeeded says so. With a job, whether the
    // process is in it (nullopt: could not be told); its executable, UTF-8
    // (nullopt: could not be read).
    std::optional<bool> inExamJob;
    std::optional<std::string> image;
};

// True when only a look at the process itself can tell whether it is the
// exam's (so other processes are opened only then).
bool OwnerLookupNeeded(const OwnerFacts& owner);

// This program, the launched browser, or a process of the exam's job (the
// browser's helpers and what the browser started). A process whose job
// cannot be told is not the exam's: every process of the exam is this
// program's child, which it can always look at. Only when there is no job:
// a process at a browser install path, or whose path cannot be read.
bool BelongsToExam(const OwnerFacts& owner);

// One of the four browser install paths, letter case aside.
bool IsBrowserImagePath(std::string_view path);

// The system's sticky-keys and filter-keys question (sethc.exe in the system
// folder, letter case aside): an honest student meets it by pressing Shift
// five times. A copy of that name anywhere else is not it.
bool IsAccessibilityPromptImage(std::string_view image, std::string_view systemFolder);
