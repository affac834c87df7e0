// The framework's millisecond clock.

#include "base/thread/clock.h"

#include <atomic>
#include <cstdlib>

#include "base/thread/platform.h"

namespace KavV3Base {

namespace {

// Set once before main runs, then only read; atomic so that any thread may
// read it without a lock.
std::atomic<std::uint32_t> clockBase{0};
std::atomic<bool> clockStarted{false};

void RestoreTimerResolution() { Platform::TimerEndPeriod(1); }

}  // namespace

void InitClock() {
    if (clockStarted.exchange(true, std::memory_order_acq_rel)) return;
    Platform::TimerBeginPeriod(1);
    // Read after the resolution has been raised.
    clockBase.store(Platform::TimerMilliseconds(), std::memory_order_release);
    std::atexit(&RestoreTimerResolution);
}

std::uint64_t GetMilliseconds() {
    return ElapsedSince(Platform::TimerMilliseconds(), clockBase.load(std::memory_order_acquire));
}

std::uint32_t GetClockBase() { return clockBase.load(std::memory_order_acquire); }

}  // namespace KavV3Base
