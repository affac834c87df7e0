// The operating-system layer of the framework, over the C++ standard library.

#include "base/thread/platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#if defined(_WIN32)
// The one system call without a standard-library equivalent: the resolution
// of the system timer, which also decides how finely a sleep is timed.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <timeapi.h>
#endif

#include "base/contract.h"

namespace KavV3Base::Platform {

// --- Test seams ------------------------------------------------------------

namespace {

std::atomic<std::int32_t> threadCreatesLeft{-1};  // negative: never fail
std::atomic<std::int32_t> eventCreatesLeft{-1};

// False when the seam says this creation fails; otherwise uses up one success.
bool MayCreate(std::atomic<std::int32_t>& left) {
    std::int32_t n = left.load(std::memory_order_relaxed);
    while (n > 0 && !left.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {}
    return n != 0;
}

}  // namespace

void FailThreadCreatesAfter(std::int32_t successes) {
    threadCreatesLeft.store(successes < 0 ? -1 : successes);
}
void FailEventCreatesAfter(std::int32_t successes) { eventCreatesLeft.store(successes < 0 ? -1 : successes); }

// --- Auto-reset event ------------------------------------------------------

struct TEventObject {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;  // written under mutex
};

namespace {
std::atomic<std::int64_t> liveEvents{0};
}  // namespace

TEventHandle EventCreate(bool initiallySignalled) {
    if (!MayCreate(eventCreatesLeft)) return nullptr;
    auto* event = new (std::nothrow) TEventObject;
    if (event == nullptr) return nullptr;
    event->set = initiallySignalled;
    liveEvents.fetch_add(1, std::memory_order_relaxed);
    return event;
}

std::int32_t EventSet(TEventHandle event) {
    if (event == nullptr) return 0;
    // Notified under the mutex: the waiter that consumes the signal may close
    // the event as soon as it returns, so nothing may touch it after unlock.
    // One waiter at most consumes the signal, so waking one is enough.
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = true;
    event->signalled.notify_one();
    return 1;
}

std::int32_t EventReset(TEventHandle event) {
    if (event == nullptr) return 0;
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = false;
    return 1;
}

std::uint32_t EventWait(TEventHandle event) {
    if (event == nullptr) return kWaitFailed;
    std::unique_lock<std::mutex> lock(event->mutex);
    event->signalled.wait(lock, [event] { return event->set; });
    event->set = false;
    return kWaitObject0;
}

bool EventTryWait(TEventHandle event) {
    if (event == nullptr) return false;
    std::lock_guard<std::mutex> lock(event->mutex);
    const bool wasSet = event->set;
    event->set = false;
    return wasSet;
}

std::int32_t EventClose(TEventHandle event) {
    if (event == nullptr) return 0;
    delete event;
    liveEvents.fetch_sub(1, std::memory_order_relaxed);
    return 1;
}

std::int64_t EventLiveCount() { return liveEvents.load(std::memory_order_relaxed); }

// --- Threads ---------------------------------------------------------------

namespace {

std::atomic<std::uint32_t> nextThreadId{1};
thread_local std::uint32_t currentThreadId = 0;

std::uint32_t NewThreadId() {
    std::uint32_t id = nextThreadId.fetch_add(1, std::memory_order_relaxed);
    if (id == 0) id = nextThreadId.fetch_add(1, std::memory_order_relaxed);  // after a wrap
    return id;
}

// What the running thread shares with its handle; it outlives a closed handle.
struct TThreadState {
    std::atomic<bool> ended{false};
    std::uint32_t exitCode = 0;  // written before `ended` is released
};

}  // namespace

struct TThreadObject {
    std::thread thread;
    std::shared_ptr<TThreadState> state;
    std::mutex joinMutex;  // std::thread::join may not run twice at once
};

TThreadHandle ThreadCreate(TThreadRoutine routine, void* parameter, std::uint32_t* threadId) {
    KAV_CONTRACT(routine != nullptr, "ThreadCreate needs a routine");
    if (!MayCreate(threadCreatesLeft)) return nullptr;
    auto* object = new (std::nothrow) TThreadObject;
    if (object == nullptr) return nullptr;
    const std::uint32_t id = NewThreadId();
    if (threadId != nullptr) *threadId = id;
    try {
        object->state = std::make_shared<TThreadState>();
        object->thread = std::thread([state = object->state, routine, parameter, id] {
            currentThreadId = id;
            const std::uint32_t code = routine(parameter);
            state->exitCode = code;
            state->ended.store(true, std::memory_order_release);
        });
    } catch (const std::bad_alloc&) {
        delete object;
        return nullptr;
    } catch (const std::system_error&) {
        delete object;
        return nullptr;
    }
    return object;
}

std::uint32_t ThreadWait(TThreadHandle thread) {
    if (thread == nullptr) return kWaitFailed;
    std::lock_guard<std::mutex> lock(thread->joinMutex);
    KAV_CONTRACT(thread->thread.get_id() != std::this_thread::get_id(), "a thread cannot wait for itself");
    if (thread->thread.joinable()) thread->thread.join();
    return kWaitObject0;
}

bool ThreadExitCode(TThreadHandle thread, std::uint32_t* exitCode) {
    if (thread == nullptr || !thread->state->ended.load(std::memory_order_acquire)) return false;
    if (exitCode != nullptr) *exitCode = thread->state->exitCode;
    return true;
}

std::int32_t ThreadClose(TThreadHandle thread) {
    if (thread == nullptr) return 0;
    {
        std::lock_guard<std::mutex> lock(thread->joinMutex);
        if (thread->thread.joinable()) thread->thread.detach();
    }
    delete thread;
    return 1;
}

std::uint32_t CurrentThreadId() {
    if (currentThreadId == 0) currentThreadId = NewThreadId();
    return currentThreadId;
}

// --- Thread-local words ----------------------------------------------------

namespace {

enum : std::uint8_t { kKeyUnused = 0, kKeyAllocated = 1, kKeyFreed = 2 };

std::atomic<std::uint32_t> nextTlsKey{0};
std::atomic<std::uint8_t> tlsKeyState[kTlsKeyCount];  // zero: unused
thread_local std::uintptr_t tlsWords[kTlsKeyCount];   // zero until stored

bool IsAllocated(std::uint32_t key) {
    return key < kTlsKeyCount && tlsKeyState[key].load(std::memory_order_acquire) == kKeyAllocated;
}

}  // namespace

std::uint32_t TlsKeyAlloc() {
    std::uint32_t key = nextTlsKey.load(std::memory_order_relaxed);
    do {
        if (key >= kTlsKeyCount) return kTlsInvalidKey;
    } while (!nextTlsKey.compare_exchange_weak(key, key + 1, std::memory_order_relaxed));
    tlsKeyState[key].store(kKeyAllocated, std::memory_order_release);
    return key;
}

std::int32_t TlsKeyFree(std::uint32_t key) {
    if (key >= kTlsKeyCount) return 0;
    std::uint8_t expected = kKeyAllocated;
    return tlsKeyState[key].compare_exchange_strong(expected, kKeyFreed, std::memory_order_acq_rel) ? 1 : 0;
}

std::uintptr_t TlsKeyGet(std::uint32_t key) { return IsAllocated(key) ? tlsWords[key] : 0; }

std::int32_t TlsKeySet(std::uint32_t key, std::uintptr_t value) {
    if (!IsAllocated(key)) return 0;
    tlsWords[key] = value;
    return 1;
}

// --- Timer and sleep -------------------------------------------------------

namespace {
std::atomic<std::int32_t> openPeriods{0};
}  // namespace

std::uint32_t TimerMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

#if defined(_WIN32)
std::uint32_t TimerBeginPeriod(std::uint32_t milliseconds) {
    const MMRESULT result = timeBeginPeriod(milliseconds);
    if (result == TIMERR_NOERROR) openPeriods.fetch_add(1, std::memory_order_relaxed);
    return result;
}

std::uint32_t TimerEndPeriod(std::uint32_t milliseconds) {
    const MMRESULT result = timeEndPeriod(milliseconds);
    if (result == TIMERR_NOERROR) openPeriods.fetch_sub(1, std::memory_order_relaxed);
    return result;
}
#else
std::uint32_t TimerBeginPeriod(std::uint32_t /*milliseconds*/) {
    openPeriods.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

std::uint32_t TimerEndPeriod(std::uint32_t /*milliseconds*/) {
    openPeriods.fetch_sub(1, std::memory_order_relaxed);
    return 0;
}
#endif

std::int32_t TimerOpenPeriods() { return openPeriods.load(std::memory_order_relaxed); }

void SleepMilliseconds(std::uint64_t milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

}  // namespace KavV3Base::Platform
