#include "kiosk/violation_report_rules.h"
#include "kiosk/watch/foreground_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

constexpr std::uint32_t kBrowserPid = 400, kOtherPid = 500, kOwnPid = 300;
constexpr char kSystem[] = "C:\\Windows\\system32";

// A window in front while the exam's browser runs without a job (it could
// not be made): the install path of a browser-class window's owner decides.
ForegroundFacts Window(std::uint32_t pid, const char* cls, std::optional<std::string> image = std::nullopt)
{
    ForegroundFacts f;
    f.exists = true;
    f.className = cls;
    f.owner.pid = pid;
    f.owner.ownProcess = pid == kOwnPid;
    f.owner.browserPid = kBrowserPid;
    f.owner.image = std::move(image);
    f.systemFolder = kSystem;
    return f;
}

// The same with the exam's job: whether the owner is in it decides.
ForegroundFacts WindowWithJob(std::uint32_t pid, const char* cls, std::optional<bool> inJob,
                              std::optional<std::string> image = std::nullopt)
{
    ForegroundFacts f = Window(pid, cls, std::move(image));
    f.owner.examJob = true;
    f.owner.inExamJob = inJob;
    return f;
}

constexpr char kEdgePath[] = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
constexpr char kSethc[] = "C:\\Windows\\System32\\sethc.exe";

TEST(IsForeignWindow, OnlyWindowsOutsideTheExamCount)
{
    ForegroundFacts none;
    none.owner.browserPid = kBrowserPid;
    ForegroundFacts own = Window(kOtherPid, "CBTControlBar");
    own.isLauncherWindow = true;
    ForegroundFacts noBrowser = Window(kOtherPid, "CabinetWClass");
    noBrowser.owner.browserPid = 0;
    ForegroundFacts desktop = Window(kOtherPid, "#32769");
    desktop.isSystemDesktop = true;

    struct {
        const char* what;
        ForegroundFacts facts;
        bool foreign;
    } const rows[] = {
        {"no window in front", none, false},
        {"the bar or the start screen", own, false},
        {"no browser recorded", noBrowser, false},
        {"the system's desktop window: nothing is active", desktop, false},
        {"a window of that class that is not the desktop window", Window(kOtherPid, "#32769"), true},
        {"the shell's desktop (Win+D)", Window(kOtherPid, "Progman"), true},
        {"a window of the launched browser, any class", Window(kBrowserPid, "CabinetWClass"), false},
        {"a file manager", Window(kOtherPid, "CabinetWClass"), true},
        {"class compared with case", Window(kOtherPid, "chrome_widgetwin_1", "C:\\x\\chat.exe"), true},
        {"an empty class", Window(kOtherPid, ""), true},
        {"browser class of Edge's path",
         Window(kOtherPid, "Chrome_WidgetWin_1", "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe"),
         false},
        {"browser class of Chrome's path in other letter case",
         Window(kOtherPid, "Chrome_WidgetWin_1", "c:\\PROGRAM FILES\\google\\chrome\\application\\CHROME.EXE"), false},
        {"browser class of Edge's 64-bit folder",
         Window(kOtherPid, "Chrome_WidgetWin_1", "C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe"),
         false},
        {"browser class of Chrome's 32-bit folder",
         Window(kOtherPid, "Chrome_WidgetWin_1", "C:\\Program Files (x86)\\Google\\Chrome\\Application\\chrome.exe"),
         false},
        {"browser class of a chat program",
         Window(kOtherPid, "Chrome_WidgetWin_1", "C:\\Users\\siswa\\AppData\\Local\\Chat\\chat.exe"), true},
        {"browser class, a browser name in another folder",
         Window(kOtherPid, "Chrome_WidgetWin_1", "D:\\Portable\\Google\\Chrome\\Application\\chrome.exe"), true},
        {"browser class, a browser path with a suffix",
         Window(kOtherPid, "Chrome_WidgetWin_1", "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe.bak"),
         true},
        {"browser class whose program cannot be read", Window(kOtherPid, "Chrome_WidgetWin_1"), false},
        // Dialog boxes: the program's own, the exam's and the system's
        // accessibility question; no other program's.
        {"a message box or the PIN prompt of this program", Window(kOwnPid, "#32770"), false},
        {"another program's message box", Window(kOtherPid, "#32770", "C:\\Users\\siswa\\catatan.exe"), true},
        {"another program's open-file dialog", Window(kOtherPid, "#32770", "C:\\Windows\\notepad.exe"), true},
        {"dialog class compared with case", Window(kOtherPid, "#32771", "C:\\Windows\\notepad.exe"), true},
        {"the sticky-keys question", Window(kOtherPid, "#32770", kSethc), false},
        {"a sethc.exe outside the system folder", Window(kOtherPid, "#32770", "C:\\Users\\siswa\\sethc.exe"), true},
        {"no job: a dialog of a browser at its install path", Window(kOtherPid, "#32770", kEdgePath), false},
        {"no job: a dialog whose program cannot be read", Window(kOtherPid, "#32770"), false},
        {"the sticky-keys question on another window class", Window(kOtherPid, "Notepad", kSethc), true},
        // With the exam's job, the install path no longer counts.
        {"job: a browser window of a process in the exam's job", WindowWithJob(kOtherPid, "Chrome_WidgetWin_1", true),
         false},
        {"job: a normal Edge window, outside the job", WindowWithJob(kOtherPid, "Chrome_WidgetWin_1", false, kEdgePath),
         true},
        {"job: a browser window whose job cannot be told", WindowWithJob(kOtherPid, "Chrome_WidgetWin_1", std::nullopt),
         true},
        {"job: the launched browser's own window", WindowWithJob(kBrowserPid, "Chrome_WidgetWin_1", std::nullopt),
         false},
        {"job: a dialog of a process in it", WindowWithJob(kOtherPid, "#32770", true), false},
        {"job: a dialog of a process outside it", WindowWithJob(kOtherPid, "#32770", false, kEdgePath), true},
        {"job: a dialog whose job cannot be told", WindowWithJob(kOtherPid, "#32770", std::nullopt), true},
        {"job: the sticky-keys question, outside the job", WindowWithJob(kOtherPid, "#32770", false, kSethc), false},
        {"job: a file manager in the job (started by the browser)", WindowWithJob(kOtherPid, "CabinetWClass", true),
         true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsForeignWindow(r.facts), r.foreign) << r.what;
}

TEST(NeedsOwnerLookup, OnlyForBrowserClassWindowsAndDialogsOfAnotherProcess)
{
    EXPECT_TRUE(NeedsOwnerLookup(Window(kOtherPid, "Chrome_WidgetWin_1")));
    EXPECT_TRUE(NeedsOwnerLookup(WindowWithJob(kOtherPid, "Chrome_WidgetWin_1", std::nullopt)));
    EXPECT_TRUE(NeedsOwnerLookup(Window(kOtherPid, "#32770")));
    EXPECT_FALSE(NeedsOwnerLookup(Window(kBrowserPid, "Chrome_WidgetWin_1")));
    EXPECT_FALSE(NeedsOwnerLookup(Window(kOwnPid, "#32770")));
    EXPECT_FALSE(NeedsOwnerLookup(Window(kOtherPid, "Notepad")));
    ForegroundFacts own = Window(kOtherPid, "Chrome_WidgetWin_1");
    own.isLauncherWindow = true;
    EXPECT_FALSE(NeedsOwnerLookup(own));
}

TEST(ViolationSpacingElapsed, MoreThanFiveSecondsOnTheWrappingTickCount)
{
    struct {
        std::uint32_t now, last;
        bool elapsed;
    } const rows[] = {
        {5001, 0, true},                 // the first violation after boot + 5 s
        {5000, 0, false},                // exactly 5000 is not enough
        {1000, 0, false},                // a system up for less than 5 s
        {20000, 14999, true},
        {20000, 15000, false},
        {20000, 20000, false},
        {4000, 0xFFFFFFFFu - 999, false},    // 5000 ms across the wrap
        {4001, 0xFFFFFFFFu - 999, true},     // 5001 ms across the wrap
        {4000, 0xFFFFFFFFu - 1000, true},
        {0, 0xFFFFEC77u, true},              // 5001 ms up to the wrap exactly
        {100, 0xFFFFFFF0u, false},           // 116 ms across the wrap
        {0xFFFFFFFFu, 0, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ViolationSpacingElapsed(r.now, r.last), r.elapsed) << r.now << " after " << r.last;
}

TEST(FrozenSeconds, AGapOfMoreThanFiveSecondsInWholeSeconds)
{
    struct {
        std::uint64_t previous, now, seconds;
    } const rows[] = {
        {10000, 11000, 0},        // an ordinary tick
        {10000, 15000, 0},        // exactly 5000 ms is not a gap
        {10000, 15001, 5},        // just over: its whole seconds
        {10000, 17999, 7},        // cut, not rounded
        {10000, 18000, 8},
        {0, 5001, 5},             // the tick count itself near its start
        {4'000'000'000ull, 4'000'000'000ull + 3'600'250, 3600},  // an hour asleep, past 32 bits
        {20000, 20000, 0},
        {20000, 19000, 0},        // a clock that went back is no gap
    };
    for (const auto& r : rows)
        EXPECT_EQ(FrozenSeconds(r.previous, r.now), r.seconds) << r.now << " after " << r.previous;
}

TEST(ViolationDetail, SaysWhatHappenedAndNumbersItInPlainDecimal)
{
    EXPECT_EQ(ViolationDetail(ViolationKind::SwitchedAway, 1),
              "Siswa mencoba beralih dari jendela ujian PC (Pelanggaran ke-1)");
    EXPECT_EQ(ViolationDetail(ViolationKind::SwitchedAway, 120),
              "Siswa mencoba beralih dari jendela ujian PC (Pelanggaran ke-120)");
    EXPECT_EQ(ViolationDetail(ViolationKind::BrowserClosed, 3),
              "Browser ujian tertutup sebelum ujian selesai (Pelanggaran ke-3)");
    EXPECT_EQ(ViolationDetail(ViolationKind::AppClosed, 1), "Aplikasi ujian ditutup sebelum ujian selesai (Pelanggaran ke-1)");
    EXPECT_EQ(ViolationDetail(ViolationKind::WrongPin, 2), "PIN pengawas salah dimasukkan (Pelanggaran ke-2)");
    EXPECT_EQ(ViolationDetail(ViolationKind::MoreScreens, 1),
              "Lebih dari satu layar terhubung ke PC ujian (Pelanggaran ke-1)");
    EXPECT_EQ(ViolationDetail(ViolationKind::SessionLeft, 12),
              "Layar dikunci atau pengguna Windows diganti selama ujian (Pelanggaran ke-12)");
    EXPECT_EQ(ViolationDetail(ViolationKind::SessionEnding, 2),
              "PC dimatikan atau pengguna keluar dari Windows selama ujian (Pelanggaran ke-2)");
    EXPECT_EQ(FrozenDetail(7, 3), "Aplikasi ujian terhenti 7 detik selama ujian (Pelanggaran ke-3)");
    EXPECT_EQ(FrozenDetail(3600, 10), "Aplikasi ujian terhenti 3600 detik selama ujian (Pelanggaran ke-10)");
    EXPECT_EQ(ViolationDetail(ViolationKind::WindowOnTop, 4),
              "Jendela program lain tampil di atas jendela ujian (Pelanggaran ke-4)");
    EXPECT_EQ(ViolationDetail(ViolationKind::ClipboardFilled, 1),
              "Papan klip diisi program lain selama ujian (Pelanggaran ke-1)");
    EXPECT_EQ(ViolationDetail(ViolationKind::Stalled, 5),
              "Aplikasi ujian berhenti bekerja selama ujian (Pelanggaran ke-5)");
    EXPECT_EQ(ViolationDetail(ViolationKind::ForgedSessionEnd, 2),
              "Pesan palsu ke aplikasi ujian: Windows tidak sedang dimatikan (Pelanggaran ke-2)");
}

TEST(BrowserHasEnded, WithAJobWhenItIsEmptyOtherwiseWhenTheFirstProcessExits)
{
    const std::optional<std::uint32_t> unknown;
    struct {
        const char* what;
        bool job;
        std::optional<std::uint32_t> inJob;
        bool firstExited, ended;
    } const rows[] = {
        {"running", true, 3u, false, false},
        {"an update swapped in: the first gone, its successor in the job", true, 1u, true, false},
        {"everything gone", true, 0u, true, true},
        {"the count says none while the first is still seen running", true, 0u, false, true},
        {"the job's count cannot be read: the first process decides", true, unknown, true, true},
        {"the job's count cannot be read, the first runs", true, unknown, false, false},
        {"no job: the first process exited", false, unknown, true, true},
        {"no job: running", false, unknown, false, false},
        {"no job, a count anyway (ignored)", false, 2u, true, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(BrowserHasEnded(r.job, r.inJob, r.firstExited), r.ended) << r.what;
}

}  // namespace
