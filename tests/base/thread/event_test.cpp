// Tests of TEvent: auto-reset semantics, create, close.

#include "base/thread/event.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "base/thread/platform.h"

namespace KavV3Base {
namespace {

// True if the event holds a signal; consumes it. Never blocks.
bool IsSignalled(TEvent& event) { return Platform::EventTryWait(event.handle); }

TEST(TEvent, StartsNotCreated) {
    TEvent event;
    EXPECT_EQ(event.created, 0);
    EXPECT_EQ(event.handle, nullptr);
    EXPECT_EQ(event.Set(), 0);
}

TEST(TEvent, CreatedEventIsNotSignalled) {
    TEvent event;
    EXPECT_EQ(event.Create(), 1);
    EXPECT_EQ(event.created, 1);
    EXPECT_NE(event.handle, nullptr);
    EXPECT_FALSE(IsSignalled(event));
}

TEST(TEvent, SetBeforeWaitIsNotLost) {
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    EXPECT_EQ(event.Set(), 1);
    EXPECT_EQ(event.Wait(), 0);  // returns at once: the signal waited for it
}

// Waits while another thread sets a marker and then the event: a Wait that
// returns before the marker was set returned without that Set.
void ExpectWaitEndsOnlyOnTheNextSet(TEvent& event) {
    std::atomic<int> marker{0};
    std::thread setter([&] {
        marker.store(1, std::memory_order_relaxed);
        event.Set();
    });
    EXPECT_EQ(event.Wait(), 0);
    EXPECT_EQ(marker.load(std::memory_order_relaxed), 1);
    setter.join();
}

TEST(TEvent, WaitBlocksUntilAnotherThreadSets) {
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    ExpectWaitEndsOnlyOnTheNextSet(event);
}

TEST(TEvent, TwoSetsReleaseOnlyOneWait) {
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(), 0);

    // A second Wait has nothing left to consume.
    ExpectWaitEndsOnlyOnTheNextSet(event);
    // An event that counted its Sets would still hold one here.
    EXPECT_FALSE(IsSignalled(event));
}

TEST(TEvent, CreateTwiceLeavesOneFreshEvent) {
    const std::int64_t live = Platform::EventLiveCount();
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    event.Set();
    ASSERT_EQ(event.Create(), 1);
    EXPECT_EQ(Platform::EventLiveCount(), live + 1) << "the first platform event must be closed";
    EXPECT_EQ(event.created, 1);
    EXPECT_FALSE(IsSignalled(event)) << "the fresh event carries no signal";
    event.Close();
    EXPECT_EQ(Platform::EventLiveCount(), live);
}

TEST(TEvent, CloseTwiceIsHarmlessAndWaitAfterCloseFailsAtOnce) {
    const std::int64_t live = Platform::EventLiveCount();
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    event.Close();
    EXPECT_EQ(event.created, 0);
    event.Close();
    EXPECT_EQ(event.created, 0);
    EXPECT_EQ(Platform::EventLiveCount(), live);
    EXPECT_EQ(event.Wait(), -1);
    EXPECT_EQ(event.Set(), 0);

    TEvent never;
    EXPECT_EQ(never.Wait(), -1);
}

TEST(TEvent, CanBeCreatedAgainAfterClose) {
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    event.Close();
    ASSERT_EQ(event.Create(), 1);
    event.Set();
    EXPECT_EQ(event.Wait(), 0);
}

TEST(TEvent, CreateThatTheSystemRefusesReportsItAndLeavesNoEvent) {
    TEvent event;
    ASSERT_EQ(event.Create(), 1);
    Platform::FailEventCreatesAfter(0);
    const std::int32_t result = event.Create();  // the old event is closed first
    Platform::FailEventCreatesAfter(-1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(event.created, 0);
    EXPECT_EQ(event.handle, nullptr);
    // Nothing to signal or wait on: both fail instead of passing for a signal.
    EXPECT_EQ(event.Set(), 0);
    EXPECT_EQ(event.Wait(), -1);
    // The system recovered: the same object works again.
    ASSERT_EQ(event.Create(), 1);
    event.Set();
    EXPECT_EQ(event.Wait(), 0);
}

TEST(TEvent, DestructorCloses) {
    const std::int64_t live = Platform::EventLiveCount();
    {
        TEvent event;
        ASSERT_EQ(event.Create(), 1);
        EXPECT_EQ(Platform::EventLiveCount(), live + 1);
    }
    EXPECT_EQ(Platform::EventLiveCount(), live);
}

}  // namespace
}  // namespace KavV3Base
