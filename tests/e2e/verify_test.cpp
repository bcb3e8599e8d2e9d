// Token verification as a student meets it, against the local exam server:
// what the server receives, and what each kind of answer shows.
#include "app_fixture.h"
#include "browser_control.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <string>

using namespace e2e;

namespace {

class Verify : public ServedAppTest {
protected:
    void Answer(int status, const std::string& body, int delayMs = 0)
    {
        server::Answer a;
        a.status = status;
        a.body = body;
        a.delayMs = delayMs;
        server::SetAnswers({{kVerifyPath, a}});
    }
    // The one verify request the server got for the last press.
    server::Request OnlyRequest()
    {
        const auto got = server::WaitForRequests(kVerifyPath, 1, 10000);
        EXPECT_EQ(got.size(), 1u);
        return got.empty() ? server::Request{} : got.back();
    }
};

TEST_F(Verify, SendsTheThreeValuesEscapedOverHttpsWithTheProgramsHeaders)
{
    // Quotes, backslashes, a tab and multi-byte characters in the name.
    FillAndStart(L"Siti \"Ani\" \\ Nur\tca\u00e9 \u6f22", L"5A", L"TOK-1");
    EXPECT_EQ(TakeBox(L"Verifikasi Gagal"), L"Token tidak dikenal.");
    const server::Request r = OnlyRequest();
    EXPECT_EQ(r.body,
              "{\"studentName\":\"Siti \\\"Ani\\\" \\\\ Nur\\u0009ca\xC3\xA9 \xE6\xBC\xA2\","
              "\"className\":\"5A\",\"token\":\"TOK-1\"}");
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "POST /api/exam/verify HTTP/1.1");
    EXPECT_EQ(r.Header("User-Agent"), "ORVELSelvaroCBT/1.0");
    EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=UTF-8");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.Header("Host"), "localhost");
}

TEST_F(Verify, LongFieldsAreCutToWhatTheFormReads)
{
    // The name is read up to 254 UTF-16 units, class and token up to 62.
    const std::wstring name(300, L'\u00e9');
    FillAndStart(name, std::wstring(70, L'K'), std::wstring(70, L'T'));
    TakeBox(L"Verifikasi Gagal");
    std::string expectedName;
    for (int i = 0; i < 254; ++i)
        expectedName += "\xC3\xA9";
    EXPECT_EQ(OnlyRequest().body, "{\"studentName\":\"" + expectedName + "\",\"className\":\"" +
                                      std::string(62, 'K') + "\",\"token\":\"" + std::string(62, 'T') + "\"}");
}

TEST_F(Verify, EachKindOfAnswerShowsItsOwnText)
{
    struct Row {
        const char* what;
        int status;
        std::string body;
        const wchar_t* caption;
        const wchar_t* text;
    } const rows[] = {
        {"refusal with a reason", 200, R"({"ok":false,"error":"Token sudah dipakai \"6B\"."})",
         L"Verifikasi Gagal", L"Token sudah dipakai \"6B\"."},
        {"refusal with a multi-byte reason", 403, "{\"ok\":false,\"error\":\"Ujian \xE2\x80\x93 ditutup\"}",
         L"Verifikasi Gagal", L"Ujian \u2013 ditutup"},
        {"refusal without a reason", 200, R"({"ok":false})", L"Verifikasi Gagal", L"Token tidak valid."},
        {"empty reason", 200, R"({"ok":false,"error":""})", L"Verifikasi Gagal", L"Token tidak valid."},
        {"empty body", 200, "", L"Verifikasi Gagal", L"Token tidak valid."},
        {"blank before true", 200, R"({"ok": true,"formUrl":"https://localhost/f"})", L"Verifikasi Gagal",
         L"Token tidak valid."},
        {"no ok member", 200, R"({"formUrl":"https://localhost/f"})", L"Verifikasi Gagal", L"Token tidak valid."},
        {"accepted without a form", 200, R"({"ok":true})", L"Verifikasi Gagal",
         L"Server tidak mengirim alamat formulir ujian. Hubungi pengawas."},
        {"switch-like form address", 200, R"({"ok":true,"formUrl":"--no-sandbox"})", L"Verifikasi Gagal",
         L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        // Browsers trim blanks and take "/" for a switch too; only web addresses go.
        {"blank before a switch", 200, R"({"ok":true,"formUrl":" --no-sandbox"})", L"Verifikasi Gagal",
         L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        {"slash switch", 200, R"({"ok":true,"formUrl":"/no-sandbox"})", L"Verifikasi Gagal",
         L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        {"no web address", 200, R"({"ok":true,"formUrl":"file:///C:/Windows"})", L"Verifikasi Gagal",
         L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        // A raw NUL would cut the command line before the profile switches.
        {"raw NUL in the address", 200, std::string("{\"ok\":true,\"formUrl\":\"https://localhost/f\0 --x\"}", 48),
         L"Verifikasi Gagal", L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        {"raw tab in the address", 200, "{\"ok\":true,\"formUrl\":\"https://localhost/f\t--x\"}", L"Verifikasi Gagal",
         L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas."},
        // Accepted, status not looked at: the launch goes on and finds no browser.
        {"accepted with status 500", 500, R"({"ok":true,"formUrl":"https://localhost/f"})", L"Error",
         L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Answer(row.status, row.body);
        FillAndStart(L"Budi", L"5A", L"ABC");
        EXPECT_EQ(TakeBox(row.caption), row.text);
        EXPECT_TRUE(driver::WaitFor([&] { return StartButtonIdle(); }, 3000));
        // A second box for the same answer would be open once the program
        // has handled what was posted after the first one closed.
        EXPECT_TRUE(HandledWhatWasPosted());
        EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "one box only";
    }
    ASSERT_EQ(driver::CloseAndWait(app, 15000), 0) << "its end waits for any report it made";
    EXPECT_TRUE(server::RequestsTo("/api/exam/event").empty()) << "no exam started, nothing reported";
}

TEST_F(Verify, NoAnswerOrAnUntrustedServerMeansNoConnection)
{
    const wchar_t* expected = L"Gagal terhubung ke server localhost.";
    server::Answer closeIt;
    closeIt.close = true;
    server::SetAnswers({{kVerifyPath, closeIt}});
    FillAndStart(L"Budi", L"5A", L"ABC");
    EXPECT_EQ(TakeBox(L"Verifikasi Gagal"), expected) << "connection closed without an answer";

    // Certificate errors are never let through, even for an accepting reply.
    Answer(200, R"({"ok":true,"formUrl":"https://localhost/f"})");
    for (const char* tls : {"untrusted", "wronghost"}) {
        SCOPED_TRACE(tls);
        server::SetTls(tls);
        server::ClearRequests();
        FillAndStart(L"Budi", L"5A", L"ABC");
        EXPECT_EQ(TakeBox(L"Verifikasi Gagal"), expected);
        EXPECT_TRUE(server::RequestsTo(kVerifyPath).empty()) << "nothing may be sent to an untrusted server";
    }
}

TEST_F(Verify, TheButtonWaitsDisabledForASlowServer)
{
    server::Answer slow;
    slow.body = R"({"ok":false,"error":"Lambat"})";
    slow.holdUntil = "release-slow";
    server::SetAnswers({{kVerifyPath, slow}});
    FillAndStart(L"Budi", L"5A", L"ABC");
    ASSERT_TRUE(driver::WaitFor([&] { return !IsWindowEnabled(Item(kStart)); }, 3000));
    EXPECT_EQ(driver::Text(Item(kStart)), L"Memverifikasi token...");
    ASSERT_EQ(server::WaitForRequests(kVerifyPath, 1, 5000).size(), 1u);
    // Still waiting while the server holds its answer.
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_FALSE(IsWindowEnabled(Item(kStart)));
    EXPECT_EQ(driver::Text(Item(kStart)), L"Memverifikasi token...");
    server::Release("release-slow");
    EXPECT_EQ(TakeBox(L"Verifikasi Gagal"), L"Lambat");
    EXPECT_TRUE(StartButtonIdle());
}

}  // namespace
