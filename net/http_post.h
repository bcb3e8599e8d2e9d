// The program's one network call: a blocking HTTPS POST of a JSON body.
#pragma once

#include <string>

// POSTs body to https://host:443/path. True when a response arrived, whatever
// its status; reply then holds the raw body. False (reply empty) when any step
// up to the response failed, certificate errors included. Worker threads only.
bool HttpPostJson(const wchar_t* host, const wchar_t* path, const std::string& body, std::string& reply);
