// A running exam for the tests of the kiosk session: the local exam server
// accepts the token with PIN 2468, the stand-in browser sits at Edge's path.
#pragma once

#include "app_fixture.h"
#include "browser_control.h"
#include "exam_server_control.h"
#include "key_probe.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace e2e {

inline constexpr int kBarFinish = 201, kBarProctor = 202, kPinField = 901;
inline constexpr wchar_t kPin[] = L"2468";

struct Event {
    std::string event, detail;
    bool operator==(const Event&) const = default;
};
inline void PrintTo(const Event& e, std::ostream* os) { *os << e.event << " " << e.detail; }

inline const Event kStartEvent{"START", "Siswa memulai ujian di aplikasi PC."};
inline const Event kFinishEvent{"FINISH", "Siswa menyelesaikan ujian di aplikasi PC."};
inline const Event kProctorFinishEvent{"FINISH", "Ujian diakhiri oleh pengawas dengan PIN."};
inline Event Violation(int n, const char* what = "Siswa mencoba beralih dari jendela ujian PC")
{
    return {"VIOLATION", std::string(what) + " (Pelanggaran ke-" + std::to_string(n) + ")"};
}
inline Event BrowserClosed(int n) { return Violation(n, "Browser ujian tertutup sebelum ujian selesai"); }
inline Event AppClosed(int n) { return Violation(n, "Aplikasi ujian ditutup sebelum ujian selesai"); }
inline Event WrongPin(int n) { return Violation(n, "PIN pengawas salah dimasukkan"); }
inline Event SessionLocked(int n) { return Violation(n, "Layar dikunci atau pengguna Windows diganti selama ujian"); }

class KioskTest : public ServedAppTest {
protected:
    // A plain answer with this status: the acceptance for 200, a refusal's
    // text otherwise.
    static server::Answer Status(int status)
    {
        server::Answer a;
        a.status = status;
        a.body = status == 200 ? R"({"ok":true})" : "Tidak sekarang";
        return a;
    }
    struct Exam {
        DWORD browserPid = 0;
        HANDLE browserProcess = nullptr;  // held, so its exit code outlives it
        HWND browser = nullptr;
        HWND bar = nullptr;
    };

    void BeforeLaunch() override
    {
        browser::StartRecording();  // the program hands the folder on to the browser
        ASSERT_TRUE(browser::PlaceStandIn(browser::kEdge));
    }
    void TearDown() override
    {
        ServedAppTest::TearDown();
        for (HANDLE h : held_)
            if (h)
                CloseHandle(h);
    }

    // Verifies, launches and waits for the browser, the bar and the START
    // report. `more`: answers for other paths, kept beside the acceptance.
    Exam StartExam(std::vector<std::pair<std::string, server::Answer>> more = {},
                   const std::string& verifyReply = R"({"ok":true,"formUrl":"https://localhost/demo/form","proctorPin":"2468"})")
    {
        server::Answer a;
        a.body = verifyReply;
        more.emplace_back("/api/exam/verify", a);
        server::SetAnswers(more);
        const std::size_t starts = Count(kStartEvent);
        FillAndStart(L"Budi Santoso", L"5A", L"ABC123");
        Exam exam;
        const auto launches = browser::WaitForLaunches(++launches_, 10000);
        EXPECT_EQ(launches.size(), launches_)
            << "no launch; verify requests: " << server::RequestsTo("/api/exam/verify").size()
            << ", in front: " << Describe(GetForegroundWindow())
            << ", a box of the program: " << Describe(driver::FindTopWindow(pid, L"#32770"));
        if (launches.size() != launches_)
            return exam;
        for (const auto& l : launches)
            if (browser::IsRunning(l.pid))
                exam.browserPid = l.pid;
        exam.browserProcess =
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, exam.browserPid);
        held_.push_back(exam.browserProcess);
        exam.browser = driver::WaitForTopWindow(exam.browserPid, browserClass_, nullptr, 10000);
        exam.bar = driver::WaitForTopWindow(pid, L"CBTControlBar", nullptr, 10000);
        EXPECT_NE(exam.browser, nullptr) << "the exam form opens";
        EXPECT_NE(exam.bar, nullptr) << "the bar shows";
        // The browser takes the foreground as it starts, as a real one does.
        // Under Wine the X focus request behind that goes out only when the
        // browser first waits for input; until then it could still take the
        // focus back from a window the test puts in front.
        EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == exam.browser; }, 5000));
        EXPECT_EQ(WaitForInputIdle(exam.browserProcess, 5000), 0u) << "the browser waits for input";
        // What X told the browser and the bar as they were mapped (where X's
        // pointer was, among others) is handled before the test's first click.
        if (exam.browser)
            driver::SettleDisplay(exam.browser);
        if (exam.bar)
            driver::SettleDisplay(exam.bar);
        // A START has reached the server. One that fails is tried again a
        // second later, maybe before this wait begins on a busy machine: how
        // many tries came is for the test to check, with its events.
        EXPECT_TRUE(driver::WaitFor([&] { return Count(kStartEvent) > starts; }, 10000)) << "a START";
        return exam;
    }

    // "Selesai Ujian" on the bar, then Yes to its question.
    void PressFinishAndYes(const Exam& exam)
    {
        driver::ClickWindow(GetDlgItem(exam.bar, kBarFinish));
        HWND confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
        ASSERT_NE(confirm, nullptr);
        driver::PressBoxButton(confirm, IDYES);
    }

    // Waits for a tick of the watch that began after the call, and ended: a
    // topmost window of the driver's, never activated, goes above the bar,
    // the tick puts the bar back above it, and a message sent to the bar's
    // thread is handled once the tick is over (it looks at the window in
    // front after raising the bar). Whatever the tick saw in front was in
    // front when the call was made.
    bool WaitForWatchTick(const Exam& exam)
    {
        if (!cover_)
            cover_ = std::make_unique<probe::KeyProbe>(probe::Kind::Cover);
        SetWindowPos(cover_->Window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (Above(exam.bar, cover_->Window())) {
            ADD_FAILURE() << "the cover did not go above the bar";
            return false;
        }
        const bool ticked = driver::WaitFor([&] {
            probe::Pump(0);
            return Above(exam.bar, cover_->Window());
        }, 5000);
        DWORD_PTR ignored = 0;
        return ticked && SendMessageTimeoutW(exam.bar, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) != 0;
    }
    // True when `upper` comes before `lower` in the order of the top-level
    // windows (front first).
    static bool Above(HWND upper, HWND lower)
    {
        for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
            if (w == upper)
                return true;
            if (w == lower)
                return false;
        }
        return false;
    }

    // The event a report request carries.
    static Event EventOf(const server::Request& r) { return {Member(r.body, "event"), Member(r.body, "detail")}; }
    // Every event report the server has received, in order of arrival.
    static std::vector<Event> Events()
    {
        std::vector<Event> events;
        for (const auto& r : server::RequestsTo(kEventPath))
            events.push_back(EventOf(r));
        return events;
    }
    // The events received once there are at least n (a report made later
    // than those arrives after them: they go in order).
    static std::vector<Event> EventsOnceThereAre(std::size_t n)
    {
        std::vector<Event> events;
        driver::WaitFor([&] { return (events = Events()).size() >= n; }, 10000);
        return events;
    }
    // Has a report of another kind made (a locked screen, which the watch's
    // spacing does not hold back) and waits for it: reports arrive in the
    // order made, so the list then holds everything the watch reported
    // before it.
    std::vector<Event> EventsThroughAMarker()
    {
        const std::size_t n = Events().size();
        PostMessageW(app.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
        std::vector<Event> events;
        driver::WaitFor([&] {
            events = Events();
            return events.size() > n && events.back().detail.find("Layar dikunci") != std::string::npos;
        }, 10000);
        return events;
    }
    // Ends the program and returns every report it made: its end waits for
    // the reports still queued or on their way, so with a server that
    // answers nothing more can come. The settle point of "and no more".
    std::vector<Event> EventsOnceEnded()
    {
        EXPECT_EQ(driver::CloseAndWait(app, 15000), 0) << "the program ends with 0";
        return Events();
    }
    static std::size_t Count(const Event& e)
    {
        std::size_t n = 0;
        for (const auto& got : Events())
            n += got == e;
        return n;
    }
    // Everything the launch set up is gone and the form is back as it was.
    void ExpectExamOver(const Exam& exam, long browserExitCode = 0)
    {
        EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(exam.bar); }, 5000)) << "the bar is destroyed";
        EXPECT_EQ(ExitCode(exam), browserExitCode) << "the browser has ended";
        EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == app.main; }, 5000))
            << "the start screen is back in front, not " << Describe(GetForegroundWindow());
        EXPECT_EQ(driver::Text(Item(kName)), L"Budi Santoso");
        EXPECT_EQ(driver::Text(Item(kClass)), L"5A");
        EXPECT_EQ(driver::Text(Item(kToken)), L"ABC123");
        EXPECT_TRUE(StartButtonIdle());
        EXPECT_TRUE(IsWindowEnabled(app.main));
    }

    // A window as a failure message names it: class, title, owner process.
    static std::string Describe(HWND window)
    {
        if (!window)
            return "no window";
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        const std::wstring text = driver::ClassOf(window) + L" \"" + driver::Text(window) + L"\"";
        return std::string(text.begin(), text.end()) + " of process " + std::to_string(owner);
    }

    // The prompt once it shows and its program has handled what X told it
    // of it (where X's pointer is, among others): a person's click comes
    // after that, and a click before it could be moved to a stale place.
    HWND WaitForPrompt(DWORD timeoutMs = 5000) const
    {
        HWND prompt = driver::WaitForTopWindow(pid, L"#32770", L"Akses Pengawas", timeoutMs);
        if (prompt)
            driver::SettleDisplay(prompt);
        return prompt;
    }
    HWND OpenPromptWithKeys() const
    {
        driver::PressChord({VK_CONTROL, VK_MENU, 'P'});
        return WaitForPrompt();
    }
    // Types into the focused PIN field and presses Enter.
    static void EnterPin(const std::wstring& pin)
    {
        driver::TypeText(pin);
        driver::PressKey(VK_RETURN);
    }

    // The browser's exit code once it has ended; -1 if it still runs after 5 s.
    static long ExitCode(const Exam& exam)
    {
        DWORD code = 0;
        if (!exam.browserProcess || WaitForSingleObject(exam.browserProcess, 5000) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(exam.browserProcess, &code))
            return -1;
        return static_cast<long>(code);
    }

    std::size_t launches_ = 0;
    std::vector<HANDLE> held_;
    const wchar_t* browserClass_ = L"Chrome_WidgetWin_1";  // the stand-in's window class
    std::unique_ptr<probe::KeyProbe> cover_;

private:
    static std::string Member(const std::string& body, const std::string& name)
    {
        const std::string key = "\"" + name + "\":\"";
        const std::size_t at = body.find(key);
        if (at == std::string::npos)
            return {};
        const std::size_t from = at + key.size();
        return body.substr(from, body.find('"', from) - from);
    }
};

}  // namespace e2e
