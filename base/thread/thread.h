// KavV3Base::TThread, the framework's joinable thread; ThreadEntry, the start
// routine of every framework thread; and SleepFor.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/thread/platform.h"

namespace KavV3Base {

// A thread whose body is the virtual Run. Every thread started through Start
// owns a thread slot while Run runs (see thread_slots.h).
//
// The owning (controlling) thread calls Start, SetStopRequested and Join; the
// running thread reads IsStopRequested. The destructor neither joins nor
// closes: the owner calls Join first.
class TThread {
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // The thread's body, run on the new thread; its result is the exit code.
    // The base version does nothing and returns 0.
    virtual std::int32_t Run();

    // Creates the platform thread, which at once runs ThreadEntry(this).
    // Stores and returns the handle; null means failure. Must not be called
    // again before Join.
    Platform::TThreadHandle Start();
    // stopRequested = value. Visible to the running thread without a lock.
    void SetStopRequested(std::int32_t value);
    std::int32_t IsStopRequested() const;
    // The running thread's slot: -1 until the thread has registered. Set on
    // the new thread after Start returned: other threads may rely on it only
    // after synchronising with the thread (an event it set, or Join).
    std::int32_t GetSlot() const;
    // Sets stopRequested = 1, waits without a time limit until the thread
    // has ended, then closes the handle: 1, or 0 at once when there is no
    // handle (never started, creation failed, already joined). It does not
    // wake a thread blocked on an event of its own; the caller does that
    // first. Calling it from the thread itself would deadlock.
    std::int32_t Join();

    std::uint32_t threadId = 0;                  // platform identifier, written by Start
    std::atomic<std::int32_t> slot{-1};          // written by the running thread
    Platform::TThreadHandle handle = nullptr;    // written by Start, closed by Join
    std::atomic<std::int32_t> stopRequested{0};  // written by the owner, read by the thread
};

// The start routine of every framework thread; parameter is the TThread (or
// null). Takes a thread slot for the calling thread, stores it in the
// thread's `slot`, runs Run and releases the slot again. Returns Run's
// result, or 0 for a null parameter.
std::uint32_t ThreadEntry(void* parameter);

// The length of SleepFor(seconds, nanoseconds) in milliseconds:
// seconds * 1000 + nanoseconds / 1 000 000, truncated towards zero; a
// negative total gives 0.
std::int64_t SleepForMilliseconds(std::int32_t seconds, std::int32_t nanoseconds);

// Sleeps the calling thread for SleepForMilliseconds(seconds, nanoseconds)
// milliseconds. Returns 0.
std::int32_t SleepFor(std::int32_t seconds, std::int32_t nanoseconds);

}  // namespace KavV3Base
