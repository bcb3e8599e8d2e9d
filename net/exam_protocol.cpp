#include "net/exam_protocol.h"

#include "net/json.h"

std::string BuildVerifyBody(const std::string& studentName, const std::string& className,
                            const std::string& token)
{
    return "{\"studentName\":\"" + EscapeJson(studentName) + "\",\"className\":\"" +
           EscapeJson(className) + "\",\"token\":\"" + EscapeJson(token) + "\"}";
}

std::string BuildEventBody(const std::string& studentName, const std::string& className,
                           const std::string& token, const std::string& event,
                           const std::string& detail)
{
    return "{\"studentName\":\"" + EscapeJson(studentName) + "\",\"className\":\"" +
           EscapeJson(className) + "\",\"token\":\"" + EscapeJson(token) + "\",\"event\":\"" +
           EscapeJson(event) + "\",\"detail\":\"" + EscapeJson(detail) + "\"}";
}

VerifyResult ReadVerifyReply(bool received, const std::string& reply, const std::string& hostUtf8)
{
    VerifyResult r;
    if (!received) {
        r.error = "Gagal terhubung ke server " + hostUtf8 + ".";
        return r;
    }
    // Only the body counts; the status code is never looked at.
    if (ExtractJsonBool(reply, "ok")) {
        r.accepted = true;
        r.formUrl = ExtractJsonString(reply, "formUrl");
        r.proctorPin = ExtractJsonString(reply, "proctorPin");
        // A server of the older contract sends none; a malformed one is
        // treated the same way rather than refusing the exam.
        r.session = ExtractJsonString(reply, "session");
        if (!IsSessionValue(r.session))
            r.session.clear();
        return r;
    }
    r.error = ExtractJsonString(reply, "error");
    if (r.error.empty())
        r.error = "Token tidak valid.";
    return r;
}

bool IsSessionValue(std::string_view value)
{
    if (value.size() < 16 || value.size() > 64)
        return false;
    for (const char c : value) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
                        c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::string ExamSessionHeader(const std::string& session)
{
    return session.empty() ? std::string() : "Exam-Session: " + session + "\r\n";
}

std::string EventHeaders(const std::string& idempotencyKey, const std::string& session)
{
    return "Idempotency-Key: " + idempotencyKey + "\r\n" + ExamSessionHeader(session);
}

std::string BuildHeartbeatBody(const std::string& session, const std::string& done)
{
    std::string body = "{\"session\":\"" + EscapeJson(session) + "\"";
    if (!done.empty())
        body += ",\"done\":\"" + EscapeJson(done) + "\"";
    return body + "}";
}
