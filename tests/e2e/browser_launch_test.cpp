// From an accepted token to the exam form in the browser: which browser is
// started, with what command line, and what the server hears of it.
#include "app_fixture.h"
#include "browser_control.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace e2e;

namespace {

class BrowserLaunch : public ServedAppTest {
protected:
    void BeforeLaunch() override { browser::StartRecording(); }  // the program passes it on
    void AcceptWith(const std::string& formUrl)
    {
        server::Answer a;
        a.body = "{\"ok\":true,\"formUrl\":\"" + formUrl + "\"}";
        server::SetAnswers({{kVerifyPath, a}});
    }
    // The command line the program must give the browser at this path, with
    // the profile folder of `launch`, which must be a new one of the pattern.
    static std::wstring Expected(browser::Candidate c, const std::wstring& url, const browser::Launch& launch)
    {
        const std::wstring profile = browser::ProfileFolderOf(launch.commandLine);
        EXPECT_TRUE(browser::IsExamProfileFolder(profile)) << testing::PrintToString(profile);
        return L"\"" + std::wstring(browser::PathOf(c)) + L"\" --kiosk \"" + url +
               L"\" --edge-kiosk-type=fullscreen --no-first-run --disable-pinch --user-data-dir=\"" + profile + L"\"";
    }
    // Accepts the token and returns the one launch that followed.
    browser::Launch StartExam(const std::string& formUrl = "https://localhost/demo/form")
    {
        AcceptWith(formUrl);
        FillAndStart(L"Budi Santoso", L"5A", L"ABC123");
        const auto launches = browser::WaitForLaunches(1, 10000);
        EXPECT_EQ(launches.size(), 1u);
        return launches.empty() ? browser::Launch{} : launches.front();
    }
};

TEST_F(BrowserLaunch, PrefersEdgeAndItsX86FolderAndPassesTheKioskSwitches)
{
    struct Row {
        const char* what;
        std::initializer_list<browser::Candidate> installed;
        browser::Candidate expected;
    } const rows[] = {
        {"both Edge folders", {browser::kEdge, browser::kEdgeX86}, browser::kEdgeX86},
        {"Edge and Chrome", {browser::kChrome, browser::kEdge}, browser::kEdge},
        {"only 32-bit Chrome", {browser::kChromeX86}, browser::kChromeX86},
        {"both Chromes", {browser::kChromeX86, browser::kChrome}, browser::kChrome},
    };
    bool first = true;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (!first) {
            ASSERT_EQ(driver::CloseAndWait(app), 0);
            EXPECT_EQ(browser::RemoveAll(), "") << "the browser outlived the program";
            browser::StartRecording();
            LaunchApp();
        }
        first = false;
        for (const auto c : row.installed)
            ASSERT_TRUE(browser::PlaceStandIn(c));
        const browser::Launch launch = StartExam();
        EXPECT_EQ(launch.commandLine, Expected(row.expected, L"https://localhost/demo/form", launch));
        EXPECT_NE(browser::WaitForWindow(launch.pid, 10000), nullptr) << "the form opens";
        EXPECT_TRUE(StartButtonIdle());
    }
}

TEST_F(BrowserLaunch, TheFormAddressStaysOneArgument)
{
    ASSERT_TRUE(browser::PlaceStandIn(browser::kEdge));
    // Blanks stay inside the quotes; a quote from the server is encoded so it
    // cannot end the argument and smuggle in switches of its own.
    const browser::Launch launch =
        StartExam(R"(https://localhost/ujian kelas 5?a=\" --disable-web-security \"&b=c d)");
    EXPECT_EQ(launch.commandLine,
              Expected(browser::kEdge, L"https://localhost/ujian kelas 5?a=%22 --disable-web-security %22&b=c d", launch));
}

TEST_F(BrowserLaunch, ReportsTheStartToTheServer)
{
    ASSERT_TRUE(browser::PlaceStandIn(browser::kChrome));
    AcceptWith("https://localhost/demo/form");
    FillAndStart(L"Budi \"B\" Santoso", L"5A", L"ABC123");
    ASSERT_EQ(server::WaitForRequests(kEventPath, 1, 10000).size(), 1u);
    // Closed during the exam, the program reports that and waits for its
    // reports before it ends: then nothing more can come.
    ASSERT_EQ(driver::CloseAndWait(app, 15000), 0);
    const auto events = server::RequestsTo(kEventPath);
    ASSERT_EQ(events.size(), 2u) << "one START, then the close";
    EXPECT_NE(events[1].body.find("\"event\":\"VIOLATION\""), std::string::npos);
    EXPECT_EQ(events[0].body,
              "{\"studentName\":\"Budi \\\"B\\\" Santoso\",\"className\":\"5A\",\"token\":\"ABC123\","
              "\"event\":\"START\",\"detail\":\"Siswa memulai ujian di aplikasi PC.\"}");
    EXPECT_EQ(events[0].Header("User-Agent"), "ORVELSelvaroCBT/1.0");
    EXPECT_EQ(events[0].Header("Content-Type"), "application/json; charset=UTF-8");
}

TEST_F(BrowserLaunch, AFolderAtTheFirstPathIsTriedAndNothingAfterIt)
{
    ASSERT_TRUE(browser::PlaceFolder(browser::kEdge));
    ASSERT_TRUE(browser::PlaceStandIn(browser::kChrome));
    AcceptWith("https://localhost/demo/form");
    FillAndStart(L"Budi", L"5A", L"ABC123");
    EXPECT_EQ(TakeBox(L"Error"), L"Gagal membuka browser ujian.");
    EXPECT_TRUE(browser::Launches().empty()) << "no later candidate is tried";
    EXPECT_TRUE(StartButtonIdle());
    SyncThroughRulesBox();
    ASSERT_EQ(driver::CloseAndWait(app, 15000), 0) << "its end waits for any report it made";
    EXPECT_TRUE(server::RequestsTo(kEventPath).empty()) << "no START for a failed launch";
}

TEST_F(BrowserLaunch, NoBrowserLeavesAUsableStartScreen)
{
    AcceptWith("https://localhost/demo/form");
    FillAndStart(L"Budi", L"5A", L"ABC123");
    EXPECT_EQ(TakeBox(L"Error"), L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini.");
    EXPECT_TRUE(StartButtonIdle());
    EXPECT_TRUE(IsWindowVisible(app.main));
    // And it can go again once a browser is there.
    ASSERT_TRUE(browser::PlaceStandIn(browser::kEdgeX86));
    Click(kStart);
    EXPECT_EQ(browser::WaitForLaunches(1, 10000).size(), 1u);
    ASSERT_FALSE(server::WaitForRequests(kEventPath, 1, 10000).empty()) << "the exam has started";
    // Its end waits for every report it made: then nothing more can come.
    ASSERT_EQ(driver::CloseAndWait(app, 15000), 0);
    std::vector<std::string> bodies;
    for (const auto& r : server::RequestsTo(kEventPath))
        bodies.push_back(r.body);
    const std::string student = R"({"studentName":"Budi","className":"5A","token":"ABC123",)";
    EXPECT_EQ(bodies, (std::vector<std::string>{
                          student + R"("event":"START","detail":"Siswa memulai ujian di aplikasi PC."})",
                          student + R"x("event":"VIOLATION","detail":"Aplikasi ujian ditutup sebelum ujian selesai )x"
                                    R"x((Pelanggaran ke-1)"})x"}))
        << "START only for the launch that worked";
}

}  // namespace
