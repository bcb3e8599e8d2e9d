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

bool ExtractJsonBool(const std::string& json, const std::string& key)
{
    return json.find("\"" + key + "\":true") != std::string::npos;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Four hex digits at `at`, or -1.
long Hex4(const std::string& s, std::size_t at)
{
    if (at + 4 > s.size())
        return -1;
    long value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const int d = HexDigit(s[i]);
        if (d < 0)
            return -1;
        value = value * 16 + d;
    }
    return value;
}

constexpr char32_t kReplacement = 0xFFFD;

// The escape whose backslash is at `i`, undone onto `value` as JSON means it;
// the index of its last character.
std::size_t UndoEscape(const std::string& json, std::size_t i, std::string& value)
{
    if (i + 1 >= json.size()) {
        AppendUtf8(value, kReplacement);
        return i;
    }
    const char e = json[++i];
    switch (e) {
    case 'n': value += '\n'; break;
    case 'r': value += '\r'; break;
    case 't': value += '\t'; break;
    case 'b': value += '\b'; break;
    case 'f': value += '\f'; break;
    case '"':
    case '\\':
    case '/': value += e; break;
    case 'u': {
        long unit = Hex4(json, i + 1);
        if (unit < 0) {
            AppendUtf8(value, kReplacement);
            break;
        }
        i += 4;
        char32_t cp = static_cast<char32_t>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            // A high surrogate counts only with its low half right after it.
            const long low = i + 2 < json.size() && json[i + 1] == '\\' && json[i + 2] == 'u' ? Hex4(json, i + 3) : -1;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
                i += 6;
            } else {
                cp = kReplacement;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        AppendUtf8(value, cp);
        break;
    }
    default: AppendUtf8(value, kReplacement); break;
    }
    return i;
}

// The value of the first member "key":"...", its escapes kept as the byte
// after the backslash or undone.
std::string ExtractMember(const std::string& json, const std::string& key, bool undoEscapes)
{
    const std::string pattern = "\"" + key + "\":\"";
    const std::size_t at = json.find(pattern);
    if (at == std::string::npos)
        return {};

    std::string value;
    for (std::size_t i = at + pattern.size(); i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"')
            break;
        if (c != '\\')
            value += c;
        else if (undoEscapes)
            i = UndoEscape(json, i, value);
        else
            value += i + 1 < json.size() ? json[++i] : c;
    }
    return value;
}

}  // namespace

std::string ExtractJsonString(const std::string& json, const std::string& key)
{
    return ExtractMember(json, key, false);
}

std::string ExtractJsonText(const std::string& json, const std::string& key)
{
    return ExtractMember(json, key, true);
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
