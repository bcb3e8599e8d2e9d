// The local test exam server, seen from the driver: what it is told to answer
// and what it recorded, both through files in its control folder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace server {

// The control folder (ORVEL_SERVER_DIR_WIN); empty when no server runs.
std::wstring Dir();

// One answer: status and body, optionally sent in chunks, late, or not at all.
struct Answer {
    int status = 200;
    std::string body;
    std::vector<std::string> chunks;  // when set, sent chunked instead of body
    int delayMs = 0;
    bool close = false;               // read the request, close without answering
    std::string holdUntil;            // answer only once Release(holdUntil) was called
    int cutAfter = -1;                // send only this many bytes of the answer, then close
    int stallMs = 0;                  // with cutAfter: wait this long before closing
    // For the heartbeat: a JSON list of the proctor's commands, each answered
    // until a heartbeat names it done (then the body is ignored).
    std::string commands;
};
// Lets the answers held until `name` go.
void Release(const std::string& name);

// Replaces every answer: pairs of request path and answer. A path given more
// than once answers its requests in turn, the last answer repeating.
void SetAnswers(const std::vector<std::pair<std::string, Answer>>& answers);
void ClearAnswers();
// Which certificate the server shows: "good", "untrusted" or "wronghost".
void SetTls(const char* which);

struct Request {
    std::string head;  // request line and headers, as received
    std::string body;  // raw body bytes
    // The server's mark once done with it: the status sent ("200"), "cut",
    // or empty (closed without an answer, or not done yet).
    std::string answered;
    // When it had arrived, in ms of the server's own clock: only differences
    // between requests mean anything. -1 when the server did not say.
    double arrivedMs = -1;
    std::string Path() const;
    // The value of a header, exactly as sent (empty when absent).
    std::string Header(const std::string& name) const;
};

void ClearRequests();
// How many requests the server is done with (answered, cut off or closed on).
std::size_t AnsweredCount();
std::vector<Request> Requests();
std::vector<Request> RequestsTo(const std::string& path);
// Waits until at least n requests to path were recorded.
std::vector<Request> WaitForRequests(const std::string& path, std::size_t n, DWORD timeoutMs);

// Clears answers, recordings, the commands named done and the certificate choice.
void Reset();

}  // namespace server
