// The framework's millisecond clock: milliseconds elapsed since start-up.
#pragma once

#include <cstdint>

namespace KavV3Base {

// The start-up step of the clock: raises the timer resolution to 1 ms, reads
// the clock's base from the timer and registers the exit handler that
// restores the resolution. Only the first call does anything.
void InitClock();

// Milliseconds since InitClock: ElapsedSince(timer now, base). The upper 32
// bits are always 0; the value is the true elapsed time for less than 2^32 ms
// (about 49.7 days) and then starts again from 0. No lock; any thread.
std::uint64_t GetMilliseconds();

// (now - base) in unsigned 32-bit arithmetic, that is modulo 2^32, widened to
// 64 bits: one wrap of the 32-bit timer between base and now is harmless.
constexpr std::uint64_t ElapsedSince(std::uint32_t now, std::uint32_t base) {
    return static_cast<std::uint32_t>(now - base);
}

// The timer reading taken by InitClock (0 before it ran).
std::uint32_t GetClockBase();

}  // namespace KavV3Base
