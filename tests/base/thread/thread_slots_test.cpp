// Tests of the thread slot registry: taking, releasing and reusing slots.

#include "base/thread/thread_slots.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/thread/thread_test_util.h"

namespace KavV3Base {
namespace {

using Testing::OnlyMainSlotTaken;
using Testing::SlotsSnapshot;
using Testing::THeldThread;

TEST(ThreadSlots, MainThreadHasSlotZero) {
    EXPECT_EQ(GetCurrentThreadSlot(), 0);
    const std::vector<std::int32_t> slots = SlotsSnapshot();
    ASSERT_FALSE(slots.empty());
    EXPECT_EQ(slots[0], 0);
}

TEST(ThreadSlots, FourThreadsTakeOneToFourAndAFreedSlotIsReused) {
    ASSERT_TRUE(OnlyMainSlotTaken());
    const std::size_t sizeBefore = SlotsSnapshot().size();

    std::array<THeldThread, 4> threads;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        threads[i].StartAndWait();
        EXPECT_EQ(threads[i].GetSlot(), static_cast<std::int32_t>(i + 1));
    }
    std::vector<std::int32_t> slots = SlotsSnapshot();
    for (std::int32_t s = 1; s <= 4; ++s) EXPECT_EQ(slots[static_cast<std::size_t>(s)], s);

    threads[1].ReleaseAndJoin();
    EXPECT_EQ(SlotsSnapshot()[2], -1);

    THeldThread again;
    again.StartAndWait();
    EXPECT_EQ(again.GetSlot(), 2) << "the lowest free slot is taken";

    THeldThread fifth;
    fifth.StartAndWait();
    EXPECT_EQ(fifth.GetSlot(), 5);
    slots = SlotsSnapshot();
    EXPECT_EQ(slots.size(), std::max<std::size_t>(6, sizeBefore)) << "the table grows by one entry";
    EXPECT_EQ(slots[5], 5);

    for (THeldThread& thread : threads) thread.ReleaseAndJoin();
    again.ReleaseAndJoin();
    fifth.ReleaseAndJoin();
    EXPECT_TRUE(OnlyMainSlotTaken());
    EXPECT_EQ(SlotsSnapshot().size(), std::max<std::size_t>(6, sizeBefore)) << "the table never shrinks";
}

TEST(ThreadSlots, ManyThreadsStartedTogetherGetDistinctLowestSlots) {
    ASSERT_TRUE(OnlyMainSlotTaken());
    constexpr std::size_t kThreads = 48;
    std::vector<std::unique_ptr<THeldThread>> threads;
    for (std::size_t i = 0; i < kThreads; ++i) {
        threads.push_back(std::make_unique<THeldThread>());
        threads.back()->Start();
    }
    std::set<std::int32_t> seen;
    for (auto& thread : threads) {
        thread->started.Wait();
        seen.insert(thread->GetSlot());
    }
    ASSERT_EQ(seen.size(), kThreads) << "slots are unique among live threads";
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(*seen.rbegin(), static_cast<std::int32_t>(kThreads)) << "no slot is skipped";
    for (auto& thread : threads) thread->ReleaseAndJoin();
    EXPECT_TRUE(OnlyMainSlotTaken());
}

TEST(ThreadSlots, UnregisteredThreadReadsSlotZero) {
    THeldThread framework;
    framework.StartAndWait();
    std::int32_t seen = -1;
    std::thread plain([&] { seen = GetCurrentThreadSlot(); });
    plain.join();
    EXPECT_EQ(seen, 0);
}

TEST(ThreadSlots, OnThreadCreateHoldsASlotForItsLifetime) {
    ASSERT_TRUE(OnlyMainSlotTaken());
    std::int32_t during = -1;
    std::int32_t after = -1;
    std::vector<std::int32_t> slotsDuring;
    std::thread plain([&] {
        {
            const TOnThreadCreate registration;
            during = GetCurrentThreadSlot();
            slotsDuring = SlotsSnapshot();
        }
        after = GetCurrentThreadSlot();
    });
    plain.join();
    EXPECT_EQ(during, 1);
    ASSERT_GT(slotsDuring.size(), 1u);
    EXPECT_EQ(slotsDuring[1], 1);
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(OnlyMainSlotTaken());
}

int firstCalls = 0;
int secondCalls = 0;
void FirstCallback(std::int32_t) { ++firstCalls; }
void SecondCallback(std::int32_t) { ++secondCalls; }

TEST(ThreadSlots, CallbacksAreKeptInOrderAndNotRunWhenASlotIsTaken) {
    AddThreadCallback(&FirstCallback);
    AddThreadCallback(&SecondCallback);
    std::vector<TThreadCallback> callbacks;
    {
        TScopedLock lock(GetProcessLock());
        callbacks = GetThreadSlotTable()->callbacks;
    }
    ASSERT_GE(callbacks.size(), 2u);
    EXPECT_EQ(callbacks[callbacks.size() - 2], &FirstCallback);
    EXPECT_EQ(callbacks.back(), &SecondCallback);

    THeldThread thread;
    thread.StartAndWait();
    thread.ReleaseAndJoin();
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 0);
}

TEST(ThreadSlots, KeyAndTableAreCreatedOnce) {
    EXPECT_EQ(InitThreadSlotKey(), InitThreadSlotKey());
    EXPECT_NE(InitThreadSlotKey(), Platform::kTlsInvalidKey);
    EXPECT_EQ(GetThreadSlotTable(), GetThreadSlotTable());
    EXPECT_NE(GetThreadSlotTable(), nullptr);
}

}  // namespace
}  // namespace KavV3Base
