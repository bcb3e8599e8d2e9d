// The exam's presence at the server: its session on every try of every
// report, heartbeats while it runs and none after, a freeze and a quit
// message from outside reported; and the access list that keeps the user's
// other programs from ending or freezing the program. Wine does not enforce
// that list (the test freezes the program all the same); on Windows only an
// administrator could.
#include "kiosk_fixture.h"

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <vector>

extern "C" LONG NTAPI NtSuspendProcess(HANDLE process);
extern "C" LONG NTAPI NtResumeProcess(HANDLE process);

using namespace e2e;

namespace {

constexpr char kVerifyPath[] = "/api/exam/verify";
constexpr char kHeartbeatPath[] = "/api/exam/heartbeat";
// As the school's server makes them: 32 lower-case hex digits.
const std::string kSession = "5f0c1d2e3a4b59687f8e9dacbbcadbe1";

std::string Acceptance(const std::string& session)
{
    return R"({"ok":true,"formUrl":"https://localhost/demo/form","proctorPin":"2468","session":")" + session + "\"}";
}

class Presence : public KioskTest {
protected:
    // Each request so far has had its answer (all of this test's get one).
    static bool AllAnswered()
    {
        for (const auto& r : server::Requests())
            if (r.answered.empty())
                return false;
        return true;
    }
    // The seconds in the freeze report numbered `count`; 0 while there is none.
    static long FrozenSecondsReported(int count)
    {
        const std::regex detail("Aplikasi ujian terhenti ([0-9]+) detik selama ujian \\(Pelanggaran ke-" +
                                std::to_string(count) + "\\)");
        std::smatch found;
        for (const auto& e : Events())
            if (e.event == "VIOLATION" && std::regex_match(e.detail, found, detail))
                return std::stol(found[1]);
        return 0;
    }
    // Every request so far, one a line, for failure messages.
    static std::string Traffic()
    {
        std::string lines;
        const auto all = server::Requests();
        const double first = all.empty() ? 0 : all.front().arrivedMs;
        for (const auto& r : all) {
            char at[32];
            std::snprintf(at, sizeof at, "%8.3f s ", (r.arrivedMs - first) / 1000);
            const Event e = EventOf(r);
            lines += "\n" + std::string(at) + r.Path() + " " + e.event + " " + e.detail + " [" + r.Header("Exam-Session") +
                     "] " + r.answered;
        }
        return lines;
    }
};

TEST_F(Presence, TheSessionOnEveryTryHeartbeatsOnlyWhileItRunsAndAFreezeAndAQuitReported)
{
    // The first exam has a session; its START fails once (held until the
    // launch is seen through, which waits for one START).
    server::Answer failed = Status(503);
    failed.holdUntil = "release-start";
    const Exam exam = StartExam({{kEventPath, failed}, {kEventPath, Status(200)}}, Acceptance(kSession));
    ASSERT_NE(exam.bar, nullptr);
    server::Release("release-start");
    ASSERT_TRUE(driver::WaitFor([] { return Count(kStartEvent) == 2 && AllAnswered(); }, 10000)) << Traffic();

    // Frozen for 7 s from outside: the watch reports the time it stood still
    // once the program runs again. No heartbeat falls due meanwhile.
    HANDLE process = OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, pid);
    ASSERT_NE(process, nullptr);
    const ULONGLONG suspendedAt = GetTickCount64();
    ASSERT_EQ(NtSuspendProcess(process), 0);
    Sleep(7000);
    ASSERT_EQ(NtResumeProcess(process), 0);
    const ULONGLONG frozenMs = GetTickCount64() - suspendedAt;
    CloseHandle(process);
    long seconds = 0;
    ASSERT_TRUE(driver::WaitFor([&] { return (seconds = FrozenSecondsReported(1)) > 0; }, 10000)) << Traffic();
    std::printf("frozen for %.2f s from outside, reported as %ld s\n", static_cast<double>(frozenMs) / 1000.0, seconds);
    // The gap between the program's last tick before and its first after:
    // each at most a tick's second away from the freeze.
    EXPECT_GE(seconds, static_cast<long>(frozenMs / 1000));
    EXPECT_LE(seconds, static_cast<long>((frozenMs + 2000) / 1000));

    // Two heartbeats: 15 s after the launch, the freeze report between
    // putting nothing off, and 15 s after the first.
    ASSERT_EQ(server::WaitForRequests(kHeartbeatPath, 2, 40000).size(), 2u) << Traffic();
    ASSERT_TRUE(driver::WaitFor(AllAnswered, 5000));

    // FINISH fails once too: its second try comes after the exam has ended.
    server::SetAnswers({{kEventPath, Status(503)}, {kEventPath, Status(200)}});
    PressFinishAndYes(exam);
    EXPECT_EQ(TakeBox(L"ORVEL SELVARO"), L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.");
    ExpectExamOver(exam);

    // No heartbeat after the end: the start screen stays for longer than
    // the 15 s after which the next would have been due.
    Sleep(16500);

    // The second exam's session is one character too long: taken as none,
    // as from a server that hands out none.
    const Exam second = StartExam({}, Acceptance(std::string(65, 'a')));
    ASSERT_NE(second.bar, nullptr);

    // A quit message posted from outside ends the loop during the exam.
    ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(app.main, nullptr), WM_QUIT, 0, 0));
    EXPECT_EQ(driver::WaitForExit(app, 15000), 0) << "a clean end, with the quit message's code";
    EXPECT_EQ(ExitCode(second), 0) << "the browser is ended with the exam";

    // The program has ended, having waited for its reports: all is in.
    const Event frozen = Violation(1, ("Aplikasi ujian terhenti " + std::to_string(seconds) + " detik selama ujian").c_str());
    const Event closed = AppClosed(1);
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent, kStartEvent, frozen, kFinishEvent, kFinishEvent, kStartEvent,
                                            closed}))
        << Traffic();
    const auto all = server::Requests();
    const std::vector<std::string> paths{kVerifyPath,    kEventPath,     kEventPath, kEventPath, kHeartbeatPath,
                                         kHeartbeatPath, kEventPath,     kEventPath, kVerifyPath, kEventPath,
                                         kEventPath};
    std::vector<std::string> gotPaths, sessions;
    for (const auto& r : all) {
        gotPaths.push_back(r.Path());
        sessions.push_back(r.Header("Exam-Session"));
        if (r.Path() == kHeartbeatPath) {
            EXPECT_EQ(r.body, R"({"session":")" + kSession + "\"}");
        }
    }
    ASSERT_EQ(gotPaths, paths) << "the heartbeats between the freeze report and FINISH, and no others" << Traffic();
    // Every try of the first exam's reports, the retry of FINISH after its
    // end included, and its heartbeats carry its session; the
    // verifications and the second exam's reports none.
    const std::string& s = kSession;
    EXPECT_EQ(sessions, (std::vector<std::string>{"", s, s, s, s, s, s, s, "", "", ""}));

    const auto at = [&](std::size_t i) { return all[i].arrivedMs; };
    const double toFirst = at(4) - at(1), toSecond = at(5) - at(4), quiet = at(8) - at(7);
    std::printf("heartbeats %.2f s after the launch's START, %.2f s after the freeze report, then %.2f s later; "
                "%.2f s quiet after the exam\n",
                toFirst / 1000, (at(4) - at(3)) / 1000, toSecond / 1000, quiet / 1000);
    EXPECT_GE(toFirst, 14000) << "15 s after the launch";
    EXPECT_LE(toFirst, 17000) << "not put off by the freeze report";
    EXPECT_GE(toSecond, 14500) << "15 s after the heartbeat";
    EXPECT_LE(toSecond, 17000);
    EXPECT_GE(quiet, 16000) << "long enough for a heartbeat that should not come";
}

// An object's access list as rights by SID, read back; `entries` counts all
// of its entries, `others` those that do not allow.
struct AccessList {
    bool read = false;
    std::map<std::wstring, DWORD> allowed;
    DWORD entries = 0;
    int others = 0;
};
AccessList ReadAccessList(HANDLE object)
{
    AccessList list;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!object || GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                   nullptr, &descriptor) != ERROR_SUCCESS)
        return list;
    // A null list lets everyone in: not read as a list.
    list.read = dacl != nullptr;
    list.entries = dacl ? dacl->AceCount : 0;
    for (DWORD i = 0; i < list.entries; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            ++list.others;
            continue;
        }
        auto* allow = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(&allow->SidStart, &sid)) {
            list.allowed[sid] |= allow->Mask;
            LocalFree(sid);
        } else {
            ++list.others;
        }
    }
    LocalFree(descriptor);
    return list;
}

// The ids of a process's threads.
std::vector<DWORD> ThreadsOf(DWORD process)
{
    std::vector<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == process)
            threads.push_back(entry.th32ThreadID);
    CloseHandle(snapshot);
    return threads;
}

TEST_F(Presence, TheUsersOtherProgramsMayOnlyQueryAndWaitOnTheProgramAndItsThreads)
{
    HANDLE process = OpenProcess(READ_CONTROL, FALSE, pid);
    ASSERT_NE(process, nullptr);
    const AccessList list = ReadAccessList(process);
    CloseHandle(process);
    ASSERT_TRUE(list.read) << "a list, not the null list that lets everyone in";
    const std::map<std::wstring, DWORD>& allowed = list.allowed;
    const DWORD entries = list.entries;
    const int otherEntries = list.others;

    // The user the tests run as is the user the program runs as.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, size, &size));
    CloseHandle(token);
    wchar_t* user = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user));
    const std::wstring me = user;
    LocalFree(user);

    constexpr DWORD kEverything = 0x1FFFFF;  // PROCESS_ALL_ACCESS of Windows Vista and later
    constexpr DWORD kQueryAndWait = PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE |
                                    READ_CONTROL;
    const std::map<std::wstring, DWORD> expected{
        {L"S-1-5-18", kEverything},      // SYSTEM
        {L"S-1-5-32-544", kEverything},  // Administrators
        {L"S-1-3-4", kQueryAndWait},     // OWNER RIGHTS: no implicit rewriting of the list
        {me, kQueryAndWait},
    };
    EXPECT_EQ(allowed, expected);
    EXPECT_EQ(entries, 4u) << "one entry each";
    EXPECT_EQ(otherEntries, 0);

    // The window thread (hooks, bar, watch) and the sender, once an exam
    // runs: the same list with a thread's rights.
    const Exam exam = StartExam({}, Acceptance(kSession));
    ASSERT_NE(exam.bar, nullptr);
    constexpr DWORD kThreadEverything = 0x1FFFFF;  // THREAD_ALL_ACCESS of Windows Vista and later
    constexpr DWORD kThreadQueryAndWait =
        THREAD_QUERY_INFORMATION | THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | READ_CONTROL;
    const std::map<std::wstring, DWORD> threadExpected{
        {L"S-1-5-18", kThreadEverything},
        {L"S-1-5-32-544", kThreadEverything},
        {L"S-1-3-4", kThreadQueryAndWait},
        {me, kThreadQueryAndWait},
    };
    const DWORD windowThread = GetWindowThreadProcessId(exam.bar, nullptr);
    HANDLE thread = OpenThread(READ_CONTROL, FALSE, windowThread);
    ASSERT_NE(thread, nullptr);
    const AccessList threadList = ReadAccessList(thread);
    CloseHandle(thread);
    ASSERT_TRUE(threadList.read);
    EXPECT_EQ(threadList.allowed, threadExpected) << "the window thread";
    EXPECT_EQ(threadList.entries, 4u);
    int shielded = 0, all = 0;
    for (const DWORD id : ThreadsOf(pid)) {
        HANDLE t = OpenThread(READ_CONTROL, FALSE, id);
        ++all;
        if (t && ReadAccessList(t).allowed == threadExpected)
            ++shielded;
        if (t)
            CloseHandle(t);
    }
    std::printf("%d of the program's %d threads carry the list\n", shielded, all);
    EXPECT_GE(shielded, 2) << "the window thread and the sender at least";
}

// A helper ends the window thread from outside (OpenThread + TerminateThread):
// the bar, the hooks and the watch go with it, the sender runs on. It sends
// no more heartbeats, so the page shows the PC missing, and reports the stop
// once.
TEST_F(Presence, AnEndedWindowThreadStopsTheHeartbeatsAndIsReportedOnce)
{
    const Exam exam = StartExam({}, Acceptance(kSession));
    ASSERT_NE(exam.bar, nullptr);
    HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, GetWindowThreadProcessId(exam.bar, nullptr));
    ASSERT_NE(thread, nullptr) << "Wine does not enforce the thread's list";
    ASSERT_TRUE(TerminateThread(thread, 0));
    CloseHandle(thread);
    const ULONGLONG endedAt = GetTickCount64();
    const Event stalled = Violation(1, "Aplikasi ujian berhenti bekerja selama ujian");
    std::vector<Event> events;
    ASSERT_TRUE(driver::WaitFor([&] { return (events = Events()).size() >= 2; }, 30000)) << Traffic();
    const ULONGLONG reportedAfter = GetTickCount64() - endedAt;
    EXPECT_EQ(events, (std::vector<Event>{kStartEvent, stalled}));
    EXPECT_EQ(driver::WaitForExit(app, 0), -1) << "the process itself runs on";
    // Longer than a heartbeat's 15 s after the report: none comes.
    const double reportArrived = server::RequestsTo(kEventPath).back().arrivedMs;
    Sleep(16500);
    for (const auto& r : server::RequestsTo(kHeartbeatPath))
        EXPECT_LT(r.arrivedMs, reportArrived) << "a heartbeat after the stop was reported" << Traffic();
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent, stalled})) << "reported once" << Traffic();
    std::printf("window thread ended: reported %.2f s later; no heartbeat for 16.5 s after\n", reportedAfter / 1000.0);

    // Ended as IT would end it; the browser goes with its job.
    ASSERT_TRUE(TerminateProcess(app.pi.hProcess, 1));
    EXPECT_EQ(driver::WaitForExit(app, 5000), 1);
    CloseHandle(app.pi.hProcess);
    CloseHandle(app.pi.hThread);
    app.pi = {};
    EXPECT_NE(ExitCode(exam), -1) << "the browser has ended";
}

}  // namespace
