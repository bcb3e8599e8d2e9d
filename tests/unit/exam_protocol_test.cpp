#include "net/exam_protocol.h"

#include <gtest/gtest.h>

namespace {

TEST(BuildVerifyBody, ThreeEscapedMembersInOrderWithoutBlanks)
{
    EXPECT_EQ(BuildVerifyBody("Budi", "5A", "ABC123"),
              R"({"studentName":"Budi","className":"5A","token":"ABC123"})");
    EXPECT_EQ(BuildVerifyBody("", "", ""), R"({"studentName":"","className":"","token":""})");
    EXPECT_EQ(BuildVerifyBody("Budi \"Si\" \\ A", "5\tA", "x\r\ny"),
              R"({"studentName":"Budi \"Si\" \\ A","className":"5\u0009A","token":"x\ny"})");
}

TEST(BuildEventBody, FiveEscapedMembersInOrder)
{
    EXPECT_EQ(BuildEventBody("Siti", "6B", "T1", "START", "Siswa memulai ujian di aplikasi PC."),
              R"({"studentName":"Siti","className":"6B","token":"T1","event":"START",)"
              R"("detail":"Siswa memulai ujian di aplikasi PC."})");
    EXPECT_EQ(BuildEventBody("a\"b", "c\\d", "e\nf", "", "g\rh"),
              R"({"studentName":"a\"b","className":"c\\d","token":"e\nf","event":"","detail":"gh"})");
}

struct ReplyRow {
    const char* what;
    bool received;
    const char* reply;
    bool accepted;
    const char* formUrl;
    const char* pin;
    const char* error;
    const char* session = "";
};

TEST(ReadVerifyReply, JudgesTheBodyAlone)
{
    const ReplyRow rows[] = {
        {"no response", false, "", false, "", "", "Gagal terhubung ke server cbt.example.sch.id."},
        {"accepted with pin", true, R"({"ok":true,"formUrl":"https://f/x","proctorPin":"9911"})", true,
         "https://f/x", "9911", ""},
        {"accepted without pin", true, R"({"ok":true,"formUrl":"https://f/x"})", true, "https://f/x", "", ""},
        {"accepted, empty pin", true, R"({"ok":true,"formUrl":"u","proctorPin":""})", true, "u", "", ""},
        {"accepted without form", true, R"({"ok":true})", true, "", "", ""},
        {"blank before true", true, R"({"ok": true,"formUrl":"u"})", false, "", "", "Token tidak valid."},
        {"refused with text", true, R"({"ok":false,"error":"Token kedaluwarsa"})", false, "", "",
         "Token kedaluwarsa"},
        {"refused, empty text", true, R"({"ok":false,"error":""})", false, "", "", "Token tidak valid."},
        {"refused, no text", true, R"({"ok":false})", false, "", "", "Token tidak valid."},
        {"empty body", true, "", false, "", "", "Token tidak valid."},
        {"no ok member", true, R"({"formUrl":"u"})", false, "", "", "Token tidak valid."},
        {"error read back", true, R"({"error":"Kelas \"5A\" salah\n"})", false, "", "", "Kelas \"5A\" salahn"},
        {"html error page", true, "<html>502 Bad Gateway</html>", false, "", "", "Token tidak valid."},
        {"accepted with a session", true,
         R"({"ok":true,"formUrl":"u","proctorPin":"1","session":"0123456789abcdef0123456789abcdef"})", true, "u", "1",
         "", "0123456789abcdef0123456789abcdef"},
        {"session before the other members", true, R"({"session":"Ab-_Ab-_Ab-_Ab-_","ok":true,"formUrl":"u"})", true,
         "u", "", "", "Ab-_Ab-_Ab-_Ab-_"},
        {"a session too short is as none", true, R"({"ok":true,"formUrl":"u","session":"0123456789abcde"})", true, "u",
         "", ""},
        {"a session with a blank is as none", true,
         R"({"ok":true,"formUrl":"u","session":"0123456789 abcdef0123"})", true, "u", "", ""},
        {"a header break in the session is as none", true,
         "{\"ok\":true,\"formUrl\":\"u\",\"session\":\"0123456789abcdef\r\nX-A: b\"}", true, "u", "", ""},
        {"a session as a number is as none", true, R"({"ok":true,"formUrl":"u","session":12345678901234567890})",
         true, "u", "", ""},
        {"blank after the colon: not the exact form", true,
         R"({"ok":true,"formUrl":"u","session": "0123456789abcdef0123456789abcdef"})", true, "u", "", ""},
        {"a refusal's session is not taken", true,
         R"({"ok":false,"error":"x","session":"0123456789abcdef0123456789abcdef"})", false, "", "", "x"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const VerifyResult v = ReadVerifyReply(r.received, r.reply, "cbt.example.sch.id");
        EXPECT_EQ(v.accepted, r.accepted);
        EXPECT_EQ(v.formUrl, r.formUrl);
        EXPECT_EQ(v.proctorPin, r.pin);
        EXPECT_EQ(v.error, r.error);
        EXPECT_EQ(v.session, r.session);
    }
}

TEST(IsSessionValue, SixteenToSixtyFourLettersDigitsDashesAndUnderscores)
{
    const std::string allKinds = "azAZ09-_";
    struct {
        std::string value;
        bool taken;
    } const rows[] = {
        {std::string(16, 'a'), true},
        {std::string(15, 'a'), false},
        {std::string(64, 'Z'), true},
        {std::string(65, 'Z'), false},
        {"", false},
        {allKinds + allKinds, true},
        {allKinds + "azAZ09-.", false},          // a dot
        {allKinds + "azAZ09-/", false},          // the byte before the digits
        {allKinds + "azAZ09-:", false},          // the byte after them
        {allKinds + "azAZ09-@", false},          // before the capitals
        {allKinds + "azAZ09-[", false},          // after them
        {allKinds + "azAZ09-`", false},          // before the small letters
        {allKinds + "azAZ09-{", false},          // after them
        {allKinds + "azAZ09-\x7f", false},
        {allKinds + "azAZ09-\xc3\xa9", false},   // a letter beyond ASCII
        {allKinds + "azAZ09-" + std::string(1, '\0'), false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsSessionValue(r.value), r.taken) << testing::PrintToString(r.value);
}

}  // namespace
