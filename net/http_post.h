// The program's one network call: a blocking HTTPS POST of a JSON body.
#pragma once

#include <string>

// Limits of one request's steps, in milliseconds.
struct HttpTimeouts {
    int connectMs;
    int sendMs;
    int receiveMs;
};

// POSTs body to https://host:443/path. True when a response arrived, whatever
// its status; reply then holds the raw body and *status (if given) the HTTP
// status. False (reply empty, status 0) when any step up to the whole
// response failed, certificate errors and a reply cut short included.
// extraHeaders: more header lines, each ending in "\r\n", or null.
// timeouts: null leaves the system's own limits. Worker threads only.
bool HttpPostJson(const wchar_t* host, const wchar_t* path, const std::string& body, std::string& reply,
                  const wchar_t* extraHeaders = nullptr, int* status = nullptr,
                  const HttpTimeouts* timeouts = nullptr);
