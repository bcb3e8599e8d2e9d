// libFuzzer target: what EscapeJson writes must survive a strict JSON parser.
// The server reads our bodies with a real JSON library, so for any UTF-8 text,
// '"' + EscapeJson(text) + '"' has to be exactly one JSON string that reads
// back as the text without its carriage returns (those are dropped on send).
// nlohmann json is only the judge here; the program keeps its own helpers.
#include "net/json.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& input, const std::string& quoted)
{
    // fwrite, not %s: a broken escaper may leave NUL bytes in the text.
    std::fprintf(stderr, "json-strict: %s\n  input is %zu bytes; quoted escape: ", what,
                 input.size());
    std::fwrite(quoted.data(), 1, quoted.size(), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

// Well-formed UTF-8 as JSON allows it: no overlong forms, no surrogates,
// nothing past U+10FFFF. Anything else is not text the program would send.
bool IsValidUtf8(const std::uint8_t* p, std::size_t size)
{
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t more;
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0)
                lo = 0xA0;  // overlong
            if (b == 0xED)
                hi = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0)
                lo = 0x90;  // overlong
            if (b == 0xF4)
                hi = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (size - i - 1 < more)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (std::size_t k = 2; k <= more; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        i += more + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!IsValidUtf8(data, size))
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string expected;
    for (const char c : input)
        if (c != '\r')
            expected += c;

    const std::string quoted = "\"" + EscapeJson(input) + "\"";

    nlohmann::json value;
    try {
        // Strict: the whole text must be consumed, with no comments allowed.
        value = nlohmann::json::parse(quoted, nullptr, true, false);
    } catch (const nlohmann::json::exception& e) {
        std::fprintf(stderr, "json-strict: parser says: %s\n", e.what());
        Fail("escaped text is not one valid JSON string", input, quoted);
    }
    if (!value.is_string())
        Fail("escaped text parses as something other than a string", input, quoted);
    if (value.get_ref<const std::string&>() != expected)
        Fail("escaped text does not decode to the input without its CRs", input, quoted);
    return 0;
}
