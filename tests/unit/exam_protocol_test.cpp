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
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const VerifyResult v = ReadVerifyReply(r.received, r.reply, "cbt.example.sch.id");
        EXPECT_EQ(v.accepted, r.accepted);
        EXPECT_EQ(v.formUrl, r.formUrl);
        EXPECT_EQ(v.proctorPin, r.pin);
        EXPECT_EQ(v.error, r.error);
    }
}

}  // namespace
