#include "kiosk/command_line.h"

bool IsLaunchableFormUrl(const std::string& formUrl)
{
    return !formUrl.empty() && formUrl[0] != '-';
}

std::string QuoteSafeFormUrl(const std::string& formUrl)
{
    std::string out;
    out.reserve(formUrl.size());
    for (const char c : formUrl) {
        if (c == '"')
            out += "%22";
        else
            out += c;
    }
    // Backslashes right before a quote are read as escapes by the browser's
    // argument parser: double them so the closing quote stays a quote.
    std::size_t trailing = 0;
    while (trailing < out.size() && out[out.size() - 1 - trailing] == '\\')
        ++trailing;
    out.append(trailing, '\\');
    return out;
}

std::string BuildKioskCommandLine(const std::string& browserPath, const std::string& formUrl,
                                  const std::string& profileDir)
{
    return "\"" + browserPath + "\" --kiosk \"" + QuoteSafeFormUrl(formUrl) +
           "\" --edge-kiosk-type=fullscreen --no-first-run --disable-pinch --user-data-dir=\"" +
           profileDir + "\"";
}
