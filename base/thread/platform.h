// KavV3Base::Platform, the operating-system layer under the framework's locks,
// events, threads, thread-local words, timer and sleep.
//
// This is the only place that knows how these are made. It is written over
// the C++ standard library alone, so it builds wherever the framework does.
// Handles are opaque pointers; a null handle is never valid. Results follow
// the conventions the framework was built on: 1 success / 0 failure, and a
// wait yields kWaitObject0 or kWaitFailed.
#pragma once

#include <cstdint>
#include <mutex>

namespace KavV3Base::Platform {

// --- Recursive mutex -------------------------------------------------------

// A mutex that its owner may lock again; it must unlock as often as it locked.
class TRecursiveMutex {
public:
    TRecursiveMutex() = default;
    TRecursiveMutex(const TRecursiveMutex&) = delete;
    TRecursiveMutex& operator=(const TRecursiveMutex&) = delete;

    void Lock() { mutex.lock(); }
    void Unlock() { mutex.unlock(); }

private:
    std::recursive_mutex mutex;
};

// --- Auto-reset event ------------------------------------------------------

inline constexpr std::uint32_t kWaitObject0 = 0;           // the object was signalled
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;  // invalid (null) handle

struct TEventObject;
using TEventHandle = TEventObject*;

// Creates an auto-reset event: a signal stays until exactly one wait consumes
// it, so a set that comes before the wait is not lost, and several sets
// before one wait release only that wait. Null when it cannot be created.
TEventHandle EventCreate(bool initiallySignalled);
// Signals the event. 1, or 0 for a null handle. Any thread.
std::int32_t EventSet(TEventHandle event);
// Makes the event non-signalled. 1, or 0 for a null handle. Any thread.
std::int32_t EventReset(TEventHandle event);
// Blocks without a time limit until the event is signalled and consumes the
// signal. kWaitFailed at once for a null handle. Any thread.
std::uint32_t EventWait(TEventHandle event);
// Consumes the signal if there is one, without blocking: true if it did.
// False for a null handle.
bool EventTryWait(TEventHandle event);
// Destroys the event. No thread may be waiting on it. 1, or 0 for null.
std::int32_t EventClose(TEventHandle event);
// Number of events created and not yet closed, process-wide (diagnostics).
std::int64_t EventLiveCount();

// --- Threads ---------------------------------------------------------------

struct TThreadObject;
using TThreadHandle = TThreadObject*;
using TThreadRoutine = std::uint32_t (*)(void* parameter);

// Starts a thread that runs routine(parameter) at once; routine's result is
// the thread's exit code. *threadId (if not null) receives the thread's
// identifier before the thread starts running. Null when the thread cannot be
// created.
TThreadHandle ThreadCreate(TThreadRoutine routine, void* parameter, std::uint32_t* threadId);
// Blocks without a time limit until the thread has ended. kWaitObject0, or
// kWaitFailed for a null handle. May be called more than once, from any
// thread but the one waited for.
std::uint32_t ThreadWait(TThreadHandle thread);
// The exit code of an ended thread: true and *exitCode set; false while the
// thread still runs or for a null handle.
bool ThreadExitCode(TThreadHandle thread, std::uint32_t* exitCode);
// Releases the handle. A thread that still runs goes on running, detached.
// 1, or 0 for a null handle.
std::int32_t ThreadClose(TThreadHandle thread);
// The calling thread's identifier: non-zero, unique in the process. Threads
// not started by ThreadCreate get one on their first call.
std::uint32_t CurrentThreadId();

// --- Thread-local words ----------------------------------------------------

inline constexpr std::uint32_t kTlsInvalidKey = 0xFFFFFFFFu;
inline constexpr std::uint32_t kTlsKeyCount = 64;

// Allocates a key for one word per thread; every thread reads 0 under a new
// key until it stores a value. kTlsInvalidKey when all keys are used; keys
// are not reused after TlsKeyFree.
std::uint32_t TlsKeyAlloc();
// Frees the key. 1, or 0 for a key that is not allocated.
std::int32_t TlsKeyFree(std::uint32_t key);
// The calling thread's word under key; 0 for a key that is not allocated.
std::uintptr_t TlsKeyGet(std::uint32_t key);
// Stores the calling thread's word under key. 1, or 0 (nothing stored) for a
// key that is not allocated.
std::int32_t TlsKeySet(std::uint32_t key, std::uintptr_t value);

// --- Timer and sleep -------------------------------------------------------

// Milliseconds of a monotonic clock, reduced modulo 2^32 (it wraps). Any thread.
std::uint32_t TimerMilliseconds();
// Asks for a finer system timer resolution, and gives the request back. On
// Windows they set the system timer's resolution (the clock and every sleep
// are then timed to that many milliseconds) and return the system's result,
// 0 for success. Other systems have no such setting: there they only count
// the open requests and return 0.
std::uint32_t TimerBeginPeriod(std::uint32_t milliseconds);
std::uint32_t TimerEndPeriod(std::uint32_t milliseconds);
// Requests opened by TimerBeginPeriod and not yet ended (diagnostics).
std::int32_t TimerOpenPeriods();
// Sleeps the calling thread for at least the given milliseconds (0 yields).
void SleepMilliseconds(std::uint64_t milliseconds);

// --- Test seams ------------------------------------------------------------

// For tests of what callers do when the system runs out of threads or events:
// after `successes` more successful creations, every ThreadCreate (or
// EventCreate) fails and returns null, until the next call. A negative value
// (the start-up state) switches the failures off. Process-wide, any thread.
void FailThreadCreatesAfter(std::int32_t successes);
void FailEventCreatesAfter(std::int32_t successes);

}  // namespace KavV3Base::Platform
