// The verification against a server that misbehaves: what the student sees
// for each fault, that the start button comes back, and how long it took.
// Prints the matrix it ran (docs/reliability.md keeps a copy).
#include "app_fixture.h"
#include "browser_control.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace e2e;

namespace {

constexpr wchar_t kNoConnection[] = L"Gagal terhubung ke server localhost.";
constexpr wchar_t kInvalidToken[] = L"Token tidak valid.";

// No browser is installed: an accepted row ends at "no browser", nothing starts.
using VerifyFaults = ServedAppTest;

std::string Utf8(const std::wstring& text)
{
    std::string out(static_cast<std::size_t>(text.size() * 4), '\0');
    out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                            out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

TEST_F(VerifyFaults, EachFaultEndsInABoxAndTheButtonBack)
{
    const std::string refusal = R"({"ok":false,"error":"Token sudah dipakai."})";
    const std::string headerAndRefusal =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\nConnection: close\r\n"
        "Content-Length: " + std::to_string(refusal.size()) + "\r\n\r\n" + refusal;
    const int half = static_cast<int>(headerAndRefusal.size() - refusal.size() / 2);

    struct Row {
        const char* what;
        server::Answer answer;
        const char* tls;
        const wchar_t* caption;
        std::wstring text;
    };
    auto with = [](std::string body) {
        server::Answer a;
        a.body = std::move(body);
        return a;
    };
    server::Answer big = with("{\"pad\":\"" + std::string(10u << 20, 'a') + "\",\"ok\":false,\"error\":\"Balasan besar.\"}");
    server::Answer stalls = with(refusal);
    stalls.cutAfter = half;
    stalls.stallMs = 2000;
    server::Answer cut = with(refusal);
    cut.cutAfter = half;
    server::Answer silent;
    silent.close = true;
    silent.delayMs = 2000;

    const Row rows[] = {
        {"a reply of 10 MB", big, "good", L"Verifikasi Gagal", L"Balasan besar."},
        // Half a reply is no reply: half a form address must never be opened.
        {"a reply that stalls half-way, closed after 2 s", stalls, "good", L"Verifikasi Gagal", kNoConnection},
        {"a connection closed half-way", cut, "good", L"Verifikasi Gagal", kNoConnection},
        {"invalid UTF-8 in \"error\"", with("{\"ok\":false,\"error\":\"Token \xff\xfe salah \xc3\"}"), "good",
         L"Verifikasi Gagal", L"Token \ufffd\ufffd salah \ufffd"},
        // The scanner takes the first "ok": anywhere, nested or not.
        {"\"ok\" nested", with(R"({"result":{"ok":true},"formUrl":"https://localhost/f"})"), "good", L"Error",
         L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini."},
        {"\"ok\" inside a string", with(R"({"error":"kata \"ok\":true di sini","ok":false})"), "good",
         L"Verifikasi Gagal", L"kata \"ok\":true di sini"},
        {"\"ok\" with blanks", with(R"({"ok" : true,"formUrl":"https://localhost/f"})"), "good", L"Verifikasi Gagal",
         kInvalidToken},
        // The scanner looks for "ok":true anywhere: a later true wins.
        {"\"ok\" twice, false first", with(R"({"ok":false,"ok":true,"formUrl":"https://localhost/f"})"), "good",
         L"Error", L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini."},
        {"\"ok\" twice, true first", with(R"({"ok":true,"ok":false,"formUrl":"https://localhost/f"})"), "good", L"Error",
         L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini."},
        {"a cut-off acceptance", [&] {
             server::Answer a = with(R"({"ok":true,"formUrl":"https://localhost/ujian/matematika-5a"})");
             a.cutAfter = 120;
             return a;
         }(), "good", L"Verifikasi Gagal", kNoConnection},
        {"an untrusted certificate", with(refusal), "untrusted", L"Verifikasi Gagal", kNoConnection},
        {"a silent server, closing after 2 s", silent, "good", L"Verifikasi Gagal", kNoConnection},
    };
    std::printf("| fault | what the student sees | seconds to the box |\n|---|---|---|\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        server::SetAnswers({{"/api/exam/verify", row.answer}});
        server::SetTls(row.tls);
        const ULONGLONG begin = GetTickCount64();
        FillAndStart(L"Budi", L"5A", L"ABC");
        HWND box = driver::WaitForMessageBox(pid, row.caption, 30000);
        const double seconds = static_cast<double>(GetTickCount64() - begin) / 1000.0;
        ASSERT_NE(box, nullptr) << "no box within 30 s";
        const std::wstring text = driver::MessageBoxText(box);
        EXPECT_EQ(text, row.text);
        driver::PressBoxButton(box, IDOK);
        EXPECT_TRUE(driver::WaitUntilGone(box, 3000));
        EXPECT_TRUE(driver::WaitFor([&] { return StartButtonIdle(); }, 3000)) << "the button is back";
        EXPECT_TRUE(HandledWhatWasPosted());  // a second box would be open by then
        EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "one box only";
        std::printf("| %s | %s: \"%s\" | %.1f |\n", row.what, Utf8(row.caption).c_str(), Utf8(text).c_str(), seconds);
    }
    server::SetTls("good");
}

}  // namespace
