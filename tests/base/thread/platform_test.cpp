// Tests of the platform layer: event, thread, thread-local words and timer.

#include "base/thread/platform.h"

#include <atomic>
#include <cstdint>
#include <thread>

#include <gtest/gtest.h>

namespace KavV3Base::Platform {
namespace {

TEST(PlatformEvent, StartsAsAskedAndAutoResets) {
    TEventHandle on = EventCreate(true);
    TEventHandle off = EventCreate(false);
    ASSERT_NE(on, nullptr);
    ASSERT_NE(off, nullptr);
    EXPECT_TRUE(EventTryWait(on));
    EXPECT_FALSE(EventTryWait(on)) << "a consumed signal must be gone";
    EXPECT_FALSE(EventTryWait(off));

    EXPECT_EQ(EventSet(off), 1);
    EXPECT_EQ(EventSet(off), 1);
    EXPECT_TRUE(EventTryWait(off));
    EXPECT_FALSE(EventTryWait(off)) << "two sets leave one signal";

    EXPECT_EQ(EventSet(off), 1);
    EXPECT_EQ(EventReset(off), 1);
    EXPECT_FALSE(EventTryWait(off));

    EXPECT_EQ(EventSet(on), 1);
    EXPECT_EQ(EventWait(on), kWaitObject0);
    EXPECT_EQ(EventClose(on), 1);
    EXPECT_EQ(EventClose(off), 1);
}

TEST(PlatformEvent, NullHandleFailsAtOnce) {
    EXPECT_EQ(EventSet(nullptr), 0);
    EXPECT_EQ(EventReset(nullptr), 0);
    EXPECT_EQ(EventWait(nullptr), kWaitFailed);
    EXPECT_FALSE(EventTryWait(nullptr));
    EXPECT_EQ(EventClose(nullptr), 0);
}

TEST(PlatformEvent, LiveCountFollowsCreateAndClose) {
    const std::int64_t before = EventLiveCount();
    TEventHandle a = EventCreate(false);
    TEventHandle b = EventCreate(false);
    EXPECT_EQ(EventLiveCount(), before + 2);
    EventClose(a);
    EventClose(b);
    EXPECT_EQ(EventLiveCount(), before);
}

TEST(PlatformEvent, WaitReturnsOnlyAfterTheSetOfAnotherThread) {
    TEventHandle event = EventCreate(false);
    std::atomic<int> marker{0};
    std::thread setter([&] {
        marker.store(1, std::memory_order_relaxed);
        EventSet(event);
    });
    EXPECT_EQ(EventWait(event), kWaitObject0);
    EXPECT_EQ(marker.load(std::memory_order_relaxed), 1);
    setter.join();
    EXPECT_FALSE(EventTryWait(event));
    EventClose(event);
}

std::uint32_t ReturnParameter(void* parameter) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(parameter));
}

TEST(PlatformThread, ExitCodeAfterWait) {
    std::uint32_t id = 0;
    TThreadHandle thread = ThreadCreate(&ReturnParameter, reinterpret_cast<void*>(std::uintptr_t{42}), &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(ThreadWait(thread), kWaitObject0);
    EXPECT_EQ(ThreadWait(thread), kWaitObject0) << "a second wait returns at once";
    std::uint32_t code = 0;
    EXPECT_TRUE(ThreadExitCode(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(ThreadClose(thread), 1);
}

struct THeld {
    TEventHandle go = EventCreate(false);
    std::atomic<std::uint32_t> seenId{0};
    ~THeld() { EventClose(go); }
};

std::uint32_t WaitForGo(void* parameter) {
    auto* held = static_cast<THeld*>(parameter);
    held->seenId.store(CurrentThreadId());
    EventWait(held->go);
    return 5;
}

TEST(PlatformThread, NoExitCodeWhileRunningAndIdsAreDistinct) {
    THeld first;
    THeld second;
    std::uint32_t firstId = 0;
    std::uint32_t secondId = 0;
    TThreadHandle a = ThreadCreate(&WaitForGo, &first, &firstId);
    TThreadHandle b = ThreadCreate(&WaitForGo, &second, &secondId);
    std::uint32_t code = 0;
    EXPECT_FALSE(ThreadExitCode(a, &code));
    EXPECT_NE(firstId, secondId);
    EXPECT_NE(firstId, CurrentThreadId());
    EventSet(first.go);
    EventSet(second.go);
    ThreadWait(a);
    ThreadWait(b);
    EXPECT_EQ(first.seenId.load(), firstId) << "the identifier is the one the thread sees";
    EXPECT_EQ(second.seenId.load(), secondId);
    EXPECT_TRUE(ThreadExitCode(a, &code));
    EXPECT_EQ(code, 5u);
    ThreadClose(a);
    ThreadClose(b);
    EXPECT_EQ(ThreadWait(nullptr), kWaitFailed);
    EXPECT_FALSE(ThreadExitCode(nullptr, &code));
    EXPECT_EQ(ThreadClose(nullptr), 0);
}

std::uint32_t SetWhenGo(void* parameter) {
    auto* events = static_cast<TEventHandle*>(parameter);
    EventWait(events[0]);
    EventSet(events[1]);
    return 0;
}

TEST(PlatformThread, ClosingARunningThreadLetsItRunOn) {
    TEventHandle events[2] = {EventCreate(false), EventCreate(false)};
    TThreadHandle thread = ThreadCreate(&SetWhenGo, events, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ThreadClose(thread), 1);
    EventSet(events[0]);
    EXPECT_EQ(EventWait(events[1]), kWaitObject0);
    // Once its set has been consumed, the detached thread touches neither event.
    EventClose(events[0]);
    EventClose(events[1]);
}

TEST(PlatformTls, NewKeyReadsZeroOnEveryThreadAndIsPerThread) {
    const std::uint32_t key = TlsKeyAlloc();
    ASSERT_NE(key, kTlsInvalidKey);
    EXPECT_EQ(TlsKeyGet(key), 0u);
    EXPECT_EQ(TlsKeySet(key, 17), 1);
    EXPECT_EQ(TlsKeyGet(key), 17u);

    std::uintptr_t seenBefore = 99;
    std::uintptr_t seenAfter = 0;
    std::thread other([&] {
        seenBefore = TlsKeyGet(key);
        TlsKeySet(key, 23);
        seenAfter = TlsKeyGet(key);
    });
    other.join();
    EXPECT_EQ(seenBefore, 0u);
    EXPECT_EQ(seenAfter, 23u);
    EXPECT_EQ(TlsKeyGet(key), 17u) << "another thread's word is its own";

    EXPECT_EQ(TlsKeyFree(key), 1);
    EXPECT_EQ(TlsKeyFree(key), 0);
    EXPECT_EQ(TlsKeyGet(key), 0u);
    EXPECT_EQ(TlsKeySet(key, 1), 0);

    const std::uint32_t next = TlsKeyAlloc();
    EXPECT_NE(next, key) << "keys are not reused";
    EXPECT_EQ(TlsKeyGet(next), 0u);
    TlsKeyFree(next);
    EXPECT_EQ(TlsKeyGet(kTlsInvalidKey), 0u);
    EXPECT_EQ(TlsKeySet(kTlsInvalidKey, 1), 0);
}

TEST(PlatformTimer, CountsForwardAndPeriodsBalance) {
    const std::uint32_t t0 = TimerMilliseconds();
    SleepMilliseconds(2);
    const std::uint32_t t1 = TimerMilliseconds();
    EXPECT_GE(static_cast<std::uint32_t>(t1 - t0), 2u);
    const std::int32_t open = TimerOpenPeriods();
    EXPECT_EQ(TimerBeginPeriod(1), 0u);
    EXPECT_EQ(TimerOpenPeriods(), open + 1);
    EXPECT_EQ(TimerEndPeriod(1), 0u);
    EXPECT_EQ(TimerOpenPeriods(), open);
}

TEST(PlatformRecursiveMutex, OwnerMayLockAgain) {
    TRecursiveMutex mutex;
    mutex.Lock();
    mutex.Lock();
    mutex.Unlock();
    mutex.Unlock();
    SUCCEED();
}

}  // namespace
}  // namespace KavV3Base::Platform
