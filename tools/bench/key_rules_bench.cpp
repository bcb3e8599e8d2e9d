// What the lockdown's key rules cost per key event: the pure decision and the
// held-key bookkeeping the hook does for every stroke, without the hook.
//
//   key-rules-bench [EVENTS]
#include "kiosk/key_rules.h"

#include "measure.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const long events = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 5'000'000;
    std::uint64_t swallowed = 0;
    HeldKeys held;
    const double begin = bench::NowMs();
    for (long i = 0; i < events; ++i) {
        const auto vk = static_cast<std::uint32_t>(i & 0xFF);
        const std::uint32_t message = (i & 0x100) ? vk::kKeyUp : vk::kKeyDown;
        held = NoteHeldKeys(held, vk, message, static_cast<std::uint32_t>(i));
        const KeyStroke key{vk, message, IsAltDown(0, 0, held.Alt()), IsCtrlDown(0, held.Ctrl())};
        swallowed += DecideKey(true, key) != KeyAction::Pass;
    }
    const double ms = bench::NowMs() - begin;
    // The count keeps the loop from being optimised away, and shows it ran.
    std::printf("key rules: %.1f ns per key event (%ld events, %llu swallowed)\n", ms * 1e6 / static_cast<double>(events),
                events, static_cast<unsigned long long>(swallowed));
    return 0;
}
