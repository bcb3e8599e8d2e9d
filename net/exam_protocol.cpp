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
        return r;
    }
    r.error = ExtractJsonString(reply, "error");
    if (r.error.empty())
        r.error = "Token tidak valid.";
    return r;
}
