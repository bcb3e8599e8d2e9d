// UTF-8 <-> UTF-16 at the Windows boundary. Malformed input is not rejected:
// the platform turns each bad sequence into U+FFFD.
#pragma once

#include <string>

std::wstring ToWide(const std::string& utf8);
std::string ToUtf8(const std::wstring& wide);
