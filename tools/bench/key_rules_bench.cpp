// What the lockdown's key and mouse rules cost per event: the pure decisions
// and the held-key bookkeeping the hooks do for every event, without the hooks.
//
//   key-rules-bench [EVENTS]
#include "kiosk/lockdown/key_rules.h"
#include "kiosk/lockdown/mouse_rules.h"

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
        const bool alt = IsAltDown(0, 0, held.Alt()), ctrl = IsCtrlDown(0, held.Ctrl());
        const KeyStroke key{vk, message, alt, ctrl, IsShiftDown(0, held.Shift()), false};
        swallowed += DecideKey(true, key) != KeyAction::Pass;
    }
    const double ms = bench::NowMs() - begin;
    // The count keeps the loop from being optimised away, and shows it ran.
    std::printf("key rules: %.1f ns per key event (%ld events, %llu swallowed)\n", ms * 1e6 / static_cast<double>(events),
                events, static_cast<unsigned long long>(swallowed));

    // Mouse events as a hand makes them: moves above all (the hook returns
    // before the rule for those), then clicks and turns of the wheel.
    constexpr std::uint32_t kMix[] = {mouse::kLeftDown, mouse::kLeftUp,   mouse::kRightDown, mouse::kRightUp,
                                      mouse::kWheel,    mouse::kMiddleDown, mouse::kMiddleUp, mouse::kSideDown};
    std::uint64_t mouseSwallowed = 0;
    MouseState state;
    const double mouseBegin = bench::NowMs();
    for (long i = 0; i < events; ++i) {
        const MouseEvent event{kMix[i & 7], (i & 0x10) != 0, (i & 0x20) != 0};
        const MouseVerdict verdict = DecideMouse(true, event, state);
        state = verdict.next;
        mouseSwallowed += verdict.swallow;
    }
    const double mouseMs = bench::NowMs() - mouseBegin;
    std::printf("mouse rules: %.1f ns per button or wheel event (%ld events, %llu swallowed)\n",
                mouseMs * 1e6 / static_cast<double>(events), events, static_cast<unsigned long long>(mouseSwallowed));
    return 0;
}
