// The real program against the school's exam server (server/, not the test
// stand-in): a refused token, then a whole exam through START, a violation and
// FINISH, each seen on the proctor's roster as it arrives, and the proctor's
// message from the page shown on the PC. The bench starts
// the server on localhost:443 with the token REF123 for class 5A, a working
// exam "Hilang" after 5 s without contact, and puts the proctor's password in
// ORVEL_REFSERVER_PASSWORD.
#include "app_fixture.h"
#include "key_probe.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace e2e;

namespace {

struct Reply {
    DWORD status = 0;
    std::string body;
    std::wstring cookie;  // the first Set-Cookie, up to its first ';'
};

// One HTTPS request to the exam server, as the proctor's browser would make
// it; redirects are not followed, so a login's cookie can be read.
Reply Https(const wchar_t* method, const wchar_t* path, const std::string& body, const std::wstring& headers)
{
    Reply r;
    HINTERNET session = WinHttpOpen(L"orvel-refserver-test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connect = session ? WinHttpConnect(session, L"localhost", INTERNET_DEFAULT_HTTPS_PORT, 0) : nullptr;
    HINTERNET request = connect ? WinHttpOpenRequest(connect, method, path, nullptr, nullptr, nullptr, WINHTTP_FLAG_SECURE)
                                : nullptr;
    if (request) {
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        const BOOL sent = WinHttpSendRequest(request, headers.empty() ? nullptr : headers.c_str(),
                                             headers.empty() ? 0 : static_cast<DWORD>(-1L),
                                             const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                                             static_cast<DWORD>(body.size()), 0);
        if (sent && WinHttpReceiveResponse(request, nullptr)) {
            DWORD size = sizeof r.status;
            WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &r.status,
                                &size, nullptr);
            wchar_t cookie[1024] = {};
            size = sizeof cookie;
            if (WinHttpQueryHeaders(request, WINHTTP_QUERY_SET_COOKIE, nullptr, cookie, &size, nullptr)) {
                r.cookie = cookie;
                r.cookie = r.cookie.substr(0, r.cookie.find(L';'));
            }
            DWORD got = 0;
            char buffer[8192];
            while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0)
                r.body.append(buffer, got);
        }
    }
    for (HINTERNET h : {request, connect, session})
        if (h)
            WinHttpCloseHandle(h);
    return r;
}

class RefServer : public AppTest {
protected:
    void SetUp() override
    {
        const char* password = std::getenv("ORVEL_REFSERVER_PASSWORD");
        ASSERT_NE(password, nullptr) << "the bench did not start the exam server (ORVEL_REFSERVER_PASSWORD)";
        const Reply login = Https(L"POST", L"/pengawas/login", std::string("password=") + password,
                                  L"Content-Type: application/x-www-form-urlencoded\r\n");
        ASSERT_EQ(login.status, 303u) << "the proctor's login";
        ASSERT_FALSE(login.cookie.empty());
        cookie_ = L"Cookie: " + login.cookie + L"\r\n";
        browser::RemoveAll();
        browser::StartRecording();
        ASSERT_TRUE(browser::PlaceStandIn(browser::kEdge));
        AppTest::SetUp();
    }
    void TearDown() override
    {
        AppTest::TearDown();
        browser::RemoveAll();
    }
    // The roster's entry of the student, as the server writes it, up to its
    // last report's time.
    std::string Roster() const { return Https(L"GET", L"/api/proctor/roster", "", cookie_).body; }
    bool RosterHas(const std::string& entry, DWORD timeoutMs = 10000) const
    {
        return driver::WaitFor([&] { return Roster().find(entry) != std::string::npos; }, timeoutMs);
    }
    std::wstring cookie_;
};

TEST_F(RefServer, AWholeExamReachesTheProctorsRosterWithItsSessionAndHeartbeats)
{
    EXPECT_EQ(Https(L"GET", L"/api/proctor/roster", "", L"").status, 401u) << "no roster without the session";

    FillAndStart(L"Budi Santoso", L"5a", L"SALAH9");
    EXPECT_EQ(TakeBox(L"Verifikasi Gagal"), L"Token tidak valid.");
    ASSERT_TRUE(driver::WaitFor([&] { return StartButtonIdle(); }, 5000));

    // The name with a quote, a backslash and letters beyond ASCII: the
    // launcher's escapes and the server's reading of them meet.
    FillAndStart(L"Budi \"Ñoño\" \\ Santoso", L"5a", L"REF123");
    const auto launches = browser::WaitForLaunches(1, 10000);
    ASSERT_EQ(launches.size(), 1u) << "the token is accepted and the form opens";
    EXPECT_NE(launches[0].commandLine.find(L"https://localhost/ujian-ref?nama=Budi%20%22%C3%91o%C3%B1o%22%20%5C%20Santoso"),
              std::wstring::npos);
    HWND browserWindow = browser::WaitForWindow(launches[0].pid, 10000);
    HWND bar = driver::WaitForTopWindow(pid, L"CBTControlBar", nullptr, 10000);
    ASSERT_NE(browserWindow, nullptr);
    ASSERT_NE(bar, nullptr);
    const std::string student = R"("className":"5A","studentName":"Budi \"Ñoño\" \\ Santoso","token":"REF123",)";
    // Only a report with the exam's session moves a student on the roster.
    EXPECT_TRUE(RosterHas(student + R"("state":"Mengerjakan","violations":0,)")) << Roster();
    // Silent for more than the server's 5 s the exam is "Hilang"; the
    // program's heartbeat, 15 s after the launch, brings it back with no report.
    EXPECT_TRUE(RosterHas(student + R"("state":"Hilang","violations":0,)", 10000)) << Roster();
    EXPECT_TRUE(RosterHas(student + R"("state":"Mengerjakan","violations":0,)", 15000)) << Roster();
    EXPECT_NE(Roster().find(R"("lastDetail":"Siswa memulai ujian di aplikasi PC.")"), std::string::npos)
        << "no report meanwhile: " << Roster();

    {
        probe::KeyProbe other;  // another program's window in front: a violation
        ASSERT_TRUE(driver::BringToFront(other.Window()));
        EXPECT_TRUE(RosterHas(student + R"("state":"Mengerjakan","violations":1,)")) << Roster();
    }
    ASSERT_TRUE(driver::BringToFront(browserWindow));

    // The proctor's message from the page reaches the PC with its next
    // heartbeat, is shown in "Pesan Pengawas" and is told done.
    const ULONGLONG sentAt = GetTickCount64();
    const Reply sent = Https(L"POST", L"/api/proctor/command",
                             R"({"className":"5A","studentName":"Budi \"Ñoño\" \\ Santoso","kind":"message",)"
                             R"("text":"Sepuluh menit lagi.\nPeriksa jawabanmu."})",
                             cookie_ + L"Content-Type: application/json\r\nOrigin: https://localhost\r\n");
    EXPECT_EQ(sent.status, 200u) << sent.body;
    EXPECT_EQ(sent.body, R"({"ok":true,"sent":1})");
    HWND message = driver::WaitForTopWindow(pid, L"ORVELProctorMessage", L"Pesan Pengawas", 20000);
    ASSERT_NE(message, nullptr) << "the message arrives within a heartbeat's 15 s";
    std::printf("the proctor's message shown %.1f s after the page sent it\n",
                static_cast<double>(GetTickCount64() - sentAt) / 1000);
    EXPECT_EQ(driver::Text(GetDlgItem(message, 1001)), L"Sepuluh menit lagi.\r\nPeriksa jawabanmu.");
    const std::string timeline =
        "/api/proctor/timeline?className=5A&studentName=Budi%20%22%C3%91o%C3%B1o%22%20%5C%20Santoso&token=REF123";
    const std::wstring timelinePath(timeline.begin(), timeline.end());
    EXPECT_TRUE(driver::WaitFor([&] {
        return Https(L"GET", timelinePath.c_str(), "", cookie_).body.find(R"("state":"dilakukan")") != std::string::npos;
    }, 10000)) << Https(L"GET", timelinePath.c_str(), "", cookie_).body;
    driver::ClickWindow(GetDlgItem(message, IDOK));
    EXPECT_TRUE(driver::WaitUntilGone(message, 5000));
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == browserWindow; }, 5000));
    EXPECT_NE(Roster().find(R"("violations":1,)"), std::string::npos) << "no violation for the message: " << Roster();

    driver::ClickWindow(GetDlgItem(bar, 201));  // "Selesai Ujian"
    HWND confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
    ASSERT_NE(confirm, nullptr);
    driver::PressBoxButton(confirm, IDYES);
    EXPECT_EQ(TakeBox(L"ORVEL SELVARO"), L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.");
    EXPECT_TRUE(RosterHas(student + R"("state":"Selesai","violations":1,)")) << Roster();
    EXPECT_NE(Roster().find(R"("lastDetail":"Siswa menyelesaikan ujian di aplikasi PC.")"), std::string::npos);
}

}  // namespace
