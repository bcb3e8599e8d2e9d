// libFuzzer target for the reply scanner and the body escaper.
#include "net/json.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string key = input.substr(0, cut);
    const std::string json = input.substr(cut);

    const std::string value = ExtractJsonString(json, key);
    ExtractJsonBool(json, key);
    if (value.size() > json.size())
        __builtin_trap();

    // An escaped value must read back as itself when it holds no control bytes.
    const std::string escaped = EscapeJson(input);
    for (const char c : escaped)
        if (static_cast<unsigned char>(c) < 0x20)
            __builtin_trap();
    bool printable = true;
    for (const char c : input)
        if (static_cast<unsigned char>(c) < 0x20)
            printable = false;
    if (printable && ExtractJsonString("{\"k\":\"" + escaped + "\"}", "k") != input)
        __builtin_trap();
    return 0;
}
