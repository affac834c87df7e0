// Tests of the state start-up leaves behind: the system record, the thread
// slot table as [0, -1], the process-wide lock.

#include "base/thread/system_init.h"

#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread/thread_slots.h"
#include "tests/base/thread/thread_test_util.h"

namespace KavV3Base {
namespace {

using Testing::SlotsSnapshot;

// First in this program: nothing has started a thread yet.
TEST(SystemInit, StartupLeavesSlotTableAsZeroMinusOne) {
    EXPECT_EQ(SlotsSnapshot(), (std::vector<std::int32_t>{0, -1}));
    EXPECT_EQ(GetCurrentThreadSlot(), 0);
}

TEST(SystemInit, SystemRecordIsCreatedOnceAndEmpty) {
    TSystemRecord* record = GetSystemRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(GetSystemRecord(), record);
    EXPECT_EQ(record->value, 0);
    EXPECT_TRUE(record->items.empty());
    EXPECT_EQ(SlotsSnapshot(), (std::vector<std::int32_t>{0, -1})) << "a later call takes no slot";
    EXPECT_EQ(GetCurrentThreadSlot(), 0);
}

TEST(SystemInit, SystemRecordIsTheSameOnEveryThread) {
    TSystemRecord* seen = nullptr;
    std::thread other([&] { seen = GetSystemRecord(); });
    other.join();
    EXPECT_EQ(seen, GetSystemRecord());
}

TEST(SystemInit, ProcessLockIsOneRecursiveLock) {
    TCriticalSection& lock = GetProcessLock();
    EXPECT_EQ(&GetProcessLock(), &lock);
    TScopedLock outer(lock);
    TScopedLock inner(GetProcessLock());
    // Slot taking and the table accessor enter it again on the same thread.
    EXPECT_NE(GetThreadSlotTable(), nullptr);
}

}  // namespace
}  // namespace KavV3Base
