// Helpers shared by the thread tests: a framework thread that holds its slot
// until released, and a snapshot of the slot table.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/thread/event.h"
#include "base/thread/thread.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base::Testing {

// Creates an event that a helper cannot do without. Without it a wait would
// fail at once and the test would go on with nothing synchronised, so the
// test program stops instead.
inline void CreateOrAbort(TEvent& event) {
    if (event.Create() != 1) std::abort();
}

// A framework thread whose Run records the slot it runs with, signals
// `started` and then waits for `release` before it returns exitCode.
class THeldThread : public TThread {
public:
    explicit THeldThread(std::int32_t code = 0) : exitCode(code) {
        CreateOrAbort(started);
        CreateOrAbort(release);
    }
    // Never leaves a thread behind, also when a test fails early.
    ~THeldThread() override { ReleaseAndJoin(); }

    std::int32_t Run() override {
        seenSlot = GetCurrentThreadSlot();
        seenThreadId = Platform::CurrentThreadId();
        started.Set();
        release.Wait();
        return exitCode;
    }

    // Starts the thread and returns once it runs with its slot taken.
    void StartAndWait() {
        Start();
        started.Wait();
    }
    // Lets Run return and waits until the thread has ended.
    void ReleaseAndJoin() {
        release.Set();
        Join();
    }

    TEvent started;
    TEvent release;
    const std::int32_t exitCode;
    // Written by the thread before `started` is set.
    std::int32_t seenSlot = -1;
    std::uint32_t seenThreadId = 0;
};

// The slot table's entries, copied under the process-wide lock.
inline std::vector<std::int32_t> SlotsSnapshot() {
    TScopedLock lock(GetProcessLock());
    return GetThreadSlotTable()->slots;
}

// True when every entry from 1 on is free.
inline bool OnlyMainSlotTaken() {
    const std::vector<std::int32_t> slots = SlotsSnapshot();
    if (slots.empty() || slots[0] != 0) return false;
    for (std::size_t i = 1; i < slots.size(); ++i) {
        if (slots[i] != -1) return false;
    }
    return true;
}

}  // namespace KavV3Base::Testing
