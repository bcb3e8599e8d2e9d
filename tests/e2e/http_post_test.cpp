// HttpPostJson through the real WinHTTP against the local HTTPS exam server.
#include "exam_server_control.h"
#include "net/http_post.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

class HttpPost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(server::Dir().empty()) << "no local exam server (ORVEL_SERVER_DIR_WIN)";
        server::Reset();
    }
    static server::Answer With(int status, const std::string& body)
    {
        server::Answer a;
        a.status = status;
        a.body = body;
        return a;
    }
};

TEST_F(HttpPost, AnyStatusWithABodyCountsAsAnAnswer)
{
    const struct {
        int status;
        std::string body;
    } rows[] = {{200, R"({"ok":true})"}, {404, "<h1>Not Found</h1>"}, {500, R"({"ok":false,"error":"x"})"},
                {200, ""}, {204, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        server::SetAnswers({{"/api/test", With(row.status, row.body)}});
        std::string reply = "left over";
        int status = -1;
        EXPECT_TRUE(HttpPostJson(L"localhost", L"/api/test", "{}", reply, nullptr, &status));
        EXPECT_EQ(reply, row.body);
        EXPECT_EQ(status, row.status);
    }
}

TEST_F(HttpPost, AChunkedBodyArrivesWholeByteForByte)
{
    server::Answer a;
    a.chunks = {"{\"a\":\"", "x\0y"s, std::string(70000, 'z'), "\xC3\xA9\0\"}"s};
    server::SetAnswers({{"/api/test", a}});
    std::string reply;
    ASSERT_TRUE(HttpPostJson(L"localhost", L"/api/test", "{}", reply));
    EXPECT_EQ(reply, a.chunks[0] + a.chunks[1] + a.chunks[2] + a.chunks[3]);
}

TEST_F(HttpPost, SendsExactlyTheBodyWithTheProgramsHeaders)
{
    const std::string body = "{\"studentName\":\"caf\xC3\xA9\",\"x\":\"\\u0000\"}";
    std::string reply;
    ASSERT_TRUE(HttpPostJson(L"localhost", L"/api/exam/verify", body, reply));
    ASSERT_TRUE(HttpPostJson(L"localhost", L"/api/exam/event", "", reply, L"Idempotency-Key: 0123abcd\r\n"));
    const auto all = server::Requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].head.substr(0, all[0].head.find("\r\n")), "POST /api/exam/verify HTTP/1.1");
    EXPECT_EQ(all[0].body, body);
    EXPECT_EQ(all[0].Header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(all[1].head.substr(0, all[1].head.find("\r\n")), "POST /api/exam/event HTTP/1.1");
    EXPECT_EQ(all[1].body, "");
    EXPECT_EQ(all[1].Header("Content-Length"), "0");
    EXPECT_EQ(all[0].Header("Idempotency-Key"), "") << "only the header lines given";
    EXPECT_EQ(all[1].Header("Idempotency-Key"), "0123abcd");
    for (const auto& r : all) {
        EXPECT_EQ(r.Header("User-Agent"), "ORVELSelvaroCBT/1.0");
        EXPECT_EQ(r.Header("Content-Type"), "application/json; charset=UTF-8");
        EXPECT_EQ(r.Header("Host"), "localhost");
    }
}

TEST_F(HttpPost, NoAnswerMeansFalseAndAnEmptyReply)
{
    std::string reply = "left over";
    // Nothing listens there.
    EXPECT_FALSE(HttpPostJson(L"127.0.0.2", L"/api/test", "{}", reply));
    EXPECT_EQ(reply, "");
    reply = "left over";
    EXPECT_FALSE(HttpPostJson(L"no-such-host.invalid", L"/api/test", "{}", reply));
    EXPECT_EQ(reply, "");

    // The server reads the request and hangs up.
    server::Answer hangUp;
    hangUp.close = true;
    server::SetAnswers({{"/api/test", hangUp}});
    reply = "left over";
    int status = -1;
    EXPECT_FALSE(HttpPostJson(L"localhost", L"/api/test", "{}", reply, nullptr, &status));
    EXPECT_EQ(reply, "");
    EXPECT_EQ(status, 0);
}

TEST_F(HttpPost, CertificateErrorsAreNeverSuppressed)
{
    server::SetAnswers({{"/api/test", With(200, R"({"ok":true})")}});
    for (const char* tls : {"untrusted", "wronghost"}) {
        SCOPED_TRACE(tls);
        server::SetTls(tls);
        std::string reply = "left over";
        EXPECT_FALSE(HttpPostJson(L"localhost", L"/api/test", "{}", reply));
        EXPECT_EQ(reply, "");
    }
    EXPECT_TRUE(server::Requests().empty()) << "no request may reach a server that was not trusted";
    server::SetTls("good");
    std::string reply;
    EXPECT_TRUE(HttpPostJson(L"localhost", L"/api/test", "{}", reply));
    EXPECT_EQ(reply, R"({"ok":true})");
}

}  // namespace
