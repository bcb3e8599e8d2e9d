// Random bytes for names and keys no one may guess before they are made.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills `bytes` from the system's generator. Without one: bytes that are
// still different for every call of every run, though not secret.
void FillRandom(std::uint8_t* bytes, std::size_t count);
