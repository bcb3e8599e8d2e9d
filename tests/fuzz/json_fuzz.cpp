// libFuzzer target for the reply scanner, the body escaper and the reading
// of the proctor's command.
#include "net/json.h"
#include "net/proctor_command_rules.h"

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
    if (printable && ExtractJsonText("{\"k\":\"" + escaped + "\"}", "k") != input)
        __builtin_trap();

    // A message shown to the student: no control byte but the line feed, and
    // at most 300 characters of at most 4 bytes.
    const ProctorCommand command = ReadProctorCommand(json);
    if (command.text.size() > 4 * kMessageMaxChars || (command.kind == CommandKind::None && !command.id.empty()))
        __builtin_trap();
    for (const char c : command.text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F)
            __builtin_trap();
    return 0;
}
