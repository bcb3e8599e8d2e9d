// What goes to the exam server and how its verify reply is read: pure
// functions of plain values, so the wire format is checked without a network.
#pragma once

#include <string>
#include <string_view>

// {"studentName":"..","className":"..","token":".."}, values escaped.
std::string BuildVerifyBody(const std::string& studentName, const std::string& className,
                            const std::string& token);

// {"studentName":"..","className":"..","token":"..","event":"..","detail":".."}
std::string BuildEventBody(const std::string& studentName, const std::string& className,
                           const std::string& token, const std::string& event,
                           const std::string& detail);

// The outcome of one verification, as the start screen takes it over.
struct VerifyResult {
    bool accepted = false;
    std::string formUrl;     // accepted: the exam form address, possibly empty
    std::string proctorPin;  // accepted: empty when the server sent none
    std::string error;       // refused: the text for the failure box
    std::string session;     // accepted: the exam's session, empty when none (or not a valid one)
};

// received is false when no response arrived at all.
VerifyResult ReadVerifyReply(bool received, const std::string& reply, const std::string& hostUtf8);

// A session value the program takes: 16 to 64 characters of [0-9A-Za-z_-].
// It goes into a header line as it is, so nothing else may pass.
bool IsSessionValue(std::string_view value);

// "Exam-Session: S\r\n", or nothing without a session.
std::string ExamSessionHeader(const std::string& session);
// The header lines of every try of an event report: its Idempotency-Key,
// then the session's header.
std::string EventHeaders(const std::string& idempotencyKey, const std::string& session);
// {"session":".."}, or {"session":"..","done":".."} when it tells the server
// that the proctor's command of that id is done.
std::string BuildHeartbeatBody(const std::string& session, const std::string& done = {});
