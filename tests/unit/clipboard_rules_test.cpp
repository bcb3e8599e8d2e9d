#include "kiosk/lockdown/key_rules.h"
#include "kiosk/watch/clipboard_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

constexpr std::uint32_t kClipBrowser = 400, kClipOther = 500;

OwnerFacts ClipOwner(std::uint32_t pid, bool own = false, std::optional<bool> inJob = false)
{
    OwnerFacts o;
    o.pid = pid;
    o.ownProcess = own;
    o.browserPid = kClipBrowser;
    o.examJob = true;
    o.inExamJob = inJob;
    o.image = "C:\\x\\prog.exe";
    return o;
}

TEST(IsCopyKey, CtrlCXInsertAndShiftDeleteGoingDown)
{
    struct {
        std::uint32_t vk, message;
        bool ctrl, shift, copies;
    } const rows[] = {
        {vk::kC, vk::kKeyDown, true, false, true},
        {vk::kX, vk::kKeyDown, true, false, true},
        {vk::kInsert, vk::kKeyDown, true, false, true},
        {vk::kDelete, vk::kKeyDown, false, true, true},
        {vk::kC, vk::kSysKeyDown, true, false, true},
        {vk::kC, vk::kKeyDown, true, true, true},
        {vk::kC, vk::kKeyUp, true, false, false},
        {vk::kC, vk::kKeyDown, false, false, false},
        {vk::kV, vk::kKeyDown, true, false, false},
        {vk::kInsert, vk::kKeyDown, false, true, false},  // Shift+Insert pastes
        {vk::kDelete, vk::kKeyDown, false, false, false},
        {vk::kDelete, vk::kKeyDown, true, false, false},
        {vk::kA, vk::kKeyDown, true, false, false},
        {vk::kDelete, vk::kKeyUp, false, true, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsCopyKey(r.vk, r.message, r.ctrl, r.shift), r.copies)
            << r.vk << " message " << r.message << " ctrl " << r.ctrl << " shift " << r.shift;
}

TEST(ClipboardChangeToReport, TheExamsOwnWindowsCountOnlyRightAfterACopyKey)
{
    const std::optional<std::uint64_t> none;
    struct {
        const char* what;
        OwnerFacts owner;
        bool holds;
        std::optional<std::uint64_t> sinceKey;
        bool report;
    } const rows[] = {
        {"the form's copy, Ctrl+C just before", ClipOwner(kClipBrowser), true, 120, false},
        {"the form's copy, 2 s exactly after", ClipOwner(kClipBrowser), true, 2000, false},
        {"the browser's window, 2001 ms after the key", ClipOwner(kClipBrowser), true, 2001, true},
        {"the browser's window, no copy key in this exam", ClipOwner(kClipBrowser), true, none, true},
        {"a helper of the exam's job, after a key", ClipOwner(kClipOther, false, true), true, 50, false},
        {"this program's window (the bar), no key", ClipOwner(kClipOther, true), true, none, true},
        {"this program's window, right after a key", ClipOwner(kClipOther, true), true, 10, false},
        {"another program, right after a copy key", ClipOwner(kClipOther), true, 10, true},
        {"another program", ClipOwner(kClipOther), true, none, true},
        {"no owner window", ClipOwner(0), true, 10, true},
        {"emptied by this program", ClipOwner(0), false, none, false},
        {"emptied by another program", ClipOwner(kClipOther), false, none, false},
        {"a job that cannot be told", ClipOwner(kClipOther, false, std::nullopt), true, 10, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ClipboardChangeToReport(r.owner, r.holds, r.sinceKey), r.report) << r.what;
}

TEST(StaleClipboardToReport, WhatWasThereBeforeTheLaunchStillThereThreeSecondsOn)
{
    struct {
        const char* what;
        std::uint32_t atStart, now;
        bool holds;
        std::uint64_t since;
        bool reported, report;
    } const rows[] = {
        {"held open, 3 s on", 17, 17, true, 3000, false, true},
        {"held open, 2999 ms on", 17, 17, true, 2999, false, false},
        {"reported once already", 17, 17, true, 9000, true, false},
        {"emptied at last", 17, 18, false, 4000, false, false},
        {"changed by another program (its own report)", 17, 19, true, 4000, false, false},
        {"nothing there before the launch", 17, 17, false, 4000, false, false},
        {"the number wrapped round", 0xFFFFFFFFu, 0, true, 4000, false, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(StaleClipboardToReport(r.atStart, r.now, r.holds, r.since, r.reported), r.report) << r.what;
}

}  // namespace
