#include "net/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <atomic>

void FillRandom(std::uint8_t* bytes, std::size_t count)
{
    if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return;
    static std::atomic<std::uint64_t> calls{0};
    LARGE_INTEGER clock{};
    QueryPerformanceCounter(&clock);
    std::uint64_t mix = static_cast<std::uint64_t>(clock.QuadPart) ^ (++calls << 40) ^ GetCurrentProcessId();
    for (std::size_t i = 0; i < count; ++i) {
        mix = mix * 6364136223846793005ull + 1442695040888963407ull;  // a step of a 64-bit LCG
        bytes[i] = static_cast<std::uint8_t>(mix >> 56);
    }
}
