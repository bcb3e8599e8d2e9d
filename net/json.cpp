#include "net/json.h"

std::string EscapeJson(const std::string& text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"':  out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': break;  // a CR LF pair is sent as a single \n
        default:
            if (byte < 0x20) {
                // A raw control byte would make the body invalid JSON.
                out += "\\u00";
                out += kHex[byte >> 4];
                out += kHex[byte & 0x0F];
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string ExtractJsonString(const std::string& json, const std::string& key)
{
    const std::string pattern = "\"" + key + "\":\"";
    const std::size_t at = json.find(pattern);
    if (at == std::string::npos)
        return {};

    std::string value;
    for (std::size_t i = at + pattern.size(); i < json.size(); ++i) {
        const char c = json[i];
        if (c == '\\') {
            if (i + 1 < json.size())
                value += json[++i];
            else
                value += c;
        } else if (c == '"') {
            break;
        } else {
            value += c;
        }
    }
    return value;
}

bool ExtractJsonBool(const std::string& json, const std::string& key)
{
    return json.find("\"" + key + "\":true") != std::string::npos;
}
