#include "kiosk/command_line.h"

#include "kiosk/ascii_case.h"

bool IsLaunchableFormUrl(const std::string& formUrl)
{
    // The browsers trim blanks from an argument and read one that starts with
    // "-" or "/" as a switch, so anything but a web address could smuggle in
    // switches. A control byte (a NUL above all) would cut the command line
    // short and lose the profile switches that follow the address.
    if (!StartsWithIgnoringAsciiCase(formUrl, "http://") && !StartsWithIgnoringAsciiCase(formUrl, "https://"))
        return false;
    for (const char c : formUrl)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
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
