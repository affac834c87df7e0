// Tests of TThread, ThreadEntry and SleepFor.

#include "base/thread/thread.h"

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread/clock.h"
#include "base/thread/platform.h"
#include "base/thread/thread_slots.h"
#include "tests/base/thread/thread_test_util.h"

namespace KavV3Base {
namespace {

using Testing::OnlyMainSlotTaken;
using Testing::SlotsSnapshot;
using Testing::THeldThread;

TEST(TThread, NeverStartedHasNoSlotAndJoinsAtOnce) {
    TThread thread;
    EXPECT_EQ(thread.GetSlot(), -1);
    EXPECT_EQ(thread.IsStopRequested(), 0);
    EXPECT_EQ(thread.handle, nullptr);
    EXPECT_EQ(thread.Join(), 0);
    EXPECT_EQ(thread.IsStopRequested(), 1);
}

TEST(TThread, ExitCodeAndSlotWhileRunning) {
    THeldThread thread(7);
    ASSERT_NE(thread.Start(), nullptr);
    EXPECT_NE(thread.threadId, 0u);
    thread.started.Wait();

    const std::int32_t slot = thread.GetSlot();
    EXPECT_GE(slot, 1);
    EXPECT_EQ(slot, thread.seenSlot) << "slot is the running thread's own slot";
    EXPECT_EQ(thread.seenThreadId, thread.threadId);
    std::vector<std::int32_t> slots = SlotsSnapshot();
    ASSERT_LT(static_cast<std::size_t>(slot), slots.size());
    EXPECT_EQ(slots[static_cast<std::size_t>(slot)], slot) << "the slot is taken while Run runs";

    thread.release.Set();
    Platform::ThreadWait(thread.handle);
    std::uint32_t code = 0;
    ASSERT_TRUE(Platform::ThreadExitCode(thread.handle, &code));
    EXPECT_EQ(code, 7u);
    slots = SlotsSnapshot();
    EXPECT_EQ(slots[static_cast<std::size_t>(slot)], -1) << "the slot is free once the thread has ended";

    EXPECT_EQ(thread.Join(), 1);
    EXPECT_EQ(thread.handle, nullptr);
    EXPECT_EQ(thread.Join(), 0) << "a second Join has nothing to close";
}

TEST(TThread, StartThatTheSystemRefusesLeavesNoThread) {
    const std::vector<std::int32_t> before = SlotsSnapshot();
    THeldThread thread;
    Platform::FailThreadCreatesAfter(0);
    const Platform::TThreadHandle handle = thread.Start();
    Platform::FailThreadCreatesAfter(-1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(thread.handle, nullptr);
    EXPECT_EQ(thread.GetSlot(), -1);
    EXPECT_EQ(thread.Join(), 0) << "nothing to wait for";
    EXPECT_EQ(SlotsSnapshot(), before);

    // The seam counts successes: one more thread, then none.
    THeldThread first;
    THeldThread second;
    Platform::FailThreadCreatesAfter(1);
    EXPECT_NE(first.Start(), nullptr);
    EXPECT_EQ(second.Start(), nullptr);
    Platform::FailThreadCreatesAfter(-1);
    first.started.Wait();
    EXPECT_GE(first.GetSlot(), 1);
}

// Where threads come from a fixed pool of ready ones (WebAssembly), a start
// beyond the pool is refused instead of waiting for a thread that cannot
// come, and the pool is whole again once the threads have been joined.
TEST(TThread, StartBeyondThePoolOfThreadsIsRefused) {
#if !defined(__EMSCRIPTEN__)
    GTEST_SKIP() << "threads here are limited by the system alone";
#else
    constexpr std::size_t kMost = 64;  // well above any pool the build links
    std::vector<std::unique_ptr<THeldThread>> threads;
    do {
        threads.push_back(std::make_unique<THeldThread>());
    } while (threads.back()->Start() != nullptr && threads.size() < kMost);
    EXPECT_EQ(threads.back()->handle, nullptr) << "every one of " << kMost << " starts succeeded";
    EXPECT_GE(threads.size(), 5u) << "the benchmark's four workers must fit";
    const std::size_t started = threads.size() - 1;
    for (auto& thread : threads) thread->ReleaseAndJoin();
    threads.clear();

    for (std::size_t i = 0; i < started; ++i) {
        threads.push_back(std::make_unique<THeldThread>());
        ASSERT_NE(threads.back()->Start(), nullptr) << "start " << i << " after the pool came back";
    }
#endif
}

TEST(TThread, BaseRunEndsWithZero) {
    TThread thread;
    thread.Start();
    Platform::ThreadWait(thread.handle);
    std::uint32_t code = 99;
    ASSERT_TRUE(Platform::ThreadExitCode(thread.handle, &code));
    EXPECT_EQ(code, 0u);
    thread.Join();
    EXPECT_TRUE(OnlyMainSlotTaken());
}

// Runs until asked to stop.
class TSpinUntilStopped : public TThread {
public:
    std::int32_t Run() override {
        while (IsStopRequested() == 0) std::this_thread::yield();
        return 3;
    }
};

TEST(TThread, JoinRequestsStopAndWaits) {
    TSpinUntilStopped thread;
    thread.Start();
    EXPECT_EQ(thread.Join(), 1);
    EXPECT_EQ(thread.IsStopRequested(), 1);
    thread.SetStopRequested(0);
    EXPECT_EQ(thread.IsStopRequested(), 0);
}

TEST(TThread, ThreadEntryWithoutThreadTakesAndFreesASlot) {
    EXPECT_EQ(ThreadEntry(nullptr), 0u);
    EXPECT_EQ(GetCurrentThreadSlot(), 0) << "the caller reads slot 0 again";
    EXPECT_TRUE(OnlyMainSlotTaken());
}

TEST(SleepFor, MillisecondArithmetic) {
    EXPECT_EQ(SleepForMilliseconds(1, 500000000), 1500);
    EXPECT_EQ(SleepForMilliseconds(0, 999999), 0);
    EXPECT_EQ(SleepForMilliseconds(0, 1000000), 1);
    EXPECT_EQ(SleepForMilliseconds(2, 0), 2000);
    EXPECT_EQ(SleepForMilliseconds(0, 0), 0);
    EXPECT_EQ(SleepForMilliseconds(2147483647, 999999999), std::int64_t{2147483647} * 1000 + 999);
    EXPECT_EQ(SleepForMilliseconds(-1, 0), 0) << "a negative length sleeps 0 ms";
    EXPECT_EQ(SleepForMilliseconds(1, -1500000), 999) << "truncated towards zero";
}

TEST(SleepFor, SleepsAtLeastTheLength) {
    const std::uint64_t t0 = GetMilliseconds();
    EXPECT_EQ(SleepFor(0, 20000000), 0);
    const std::uint64_t t1 = GetMilliseconds();
    EXPECT_GE(t1 - t0, 19u);
}

}  // namespace
}  // namespace KavV3Base
