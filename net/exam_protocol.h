// What goes to the exam server and how its verify reply is read: pure
// functions of plain values, so the wire format is checked without a network.
#pragma once

#include <string>

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
};

// received is false when no response arrived at all.
VerifyResult ReadVerifyReply(bool received, const std::string& reply, const std::string& hostUtf8);
