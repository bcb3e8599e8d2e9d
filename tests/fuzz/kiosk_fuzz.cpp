// libFuzzer target for the form address on the browser's command line: no
// address can end its quotes or smuggle in a switch. (The unit tests check
// the key rules over every key and the watch's verdict row by row.)
#include "kiosk/command_line.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string url(reinterpret_cast<const char*>(data), size);

    // A launchable address is a web address without control bytes, and
    // between its quotes it can neither end them nor escape the closing one.
    if (IsLaunchableFormUrl(url)) {
        Check(url.size() >= 7);
        for (const char c : url)
            Check(static_cast<unsigned char>(c) >= 0x20);
    }
    const std::string quoted = QuoteSafeFormUrl(url);
    Check(quoted.find('"') == std::string::npos);
    std::size_t trailing = 0;
    while (trailing < quoted.size() && quoted[quoted.size() - 1 - trailing] == '\\')
        ++trailing;
    Check(trailing % 2 == 0);
    const std::string line = BuildKioskCommandLine("b.exe", url, "p");
    Check(line.find(quoted) != std::string::npos);
    return 0;
}
