// libFuzzer target for the kiosk decisions: the form address on the command
// line, the key rules and the watch's verdict.
#include "kiosk/command_line.h"
#include "kiosk/key_rules.h"
#include "kiosk/watch_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

std::uint32_t Word(const std::uint8_t* data, std::size_t size, std::size_t at)
{
    std::uint32_t w = 0;
    for (std::size_t i = 0; i < 4 && at + i < size; ++i)
        w |= static_cast<std::uint32_t>(data[at + i]) << (8 * i);
    return w;
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

    // Keys: nothing is held back outside an exam; only Ctrl+Alt+P asks.
    KeyStroke key;
    key.vk = Word(data, size, 0) & 0xFF;
    key.message = 0x0100 + (Word(data, size, 1) & 7);
    key.alt = size > 5 && (data[5] & 1);
    key.ctrl = size > 5 && (data[5] & 2);
    Check(DecideKey(false, key) == KeyAction::Pass);
    if (DecideKey(true, key) == KeyAction::ProctorRequest)
        Check(key.alt && key.ctrl && key.vk == vk::kP);
    HeldKeys held;
    for (std::size_t i = 0; i + 1 < size && i < 64; i += 2)
        held = NoteHeldKeys(held, data[i], 0x0100 + (data[i + 1] & 7));
    Check(!held.Alt() || IsAltDown(0, 0, held.Alt()));

    // The watch: the launcher's own windows and the browser's never count.
    ForegroundFacts facts;
    facts.exists = true;
    facts.ownerPid = Word(data, size, 2) & 3;
    facts.browserPid = Word(data, size, 3) & 3;
    facts.className = url.substr(0, 40);
    if (size & 1)
        facts.ownerImage = url;
    facts.isLauncherWindow = size > 6 && (data[6] & 1);
    if (facts.isLauncherWindow || facts.ownerPid == facts.browserPid || facts.browserPid == 0)
        Check(!IsForeignWindow(facts));
    const std::uint32_t now = Word(data, size, 4), last = Word(data, size, 8);
    Check(ViolationSpacingElapsed(now, last) == (static_cast<std::uint32_t>(now - last) > 5000u));
    return 0;
}
