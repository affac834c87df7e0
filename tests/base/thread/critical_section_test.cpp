// Tests of TCriticalSection and TScopedLock.

#include "base/thread/critical_section.h"

#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace KavV3Base {
namespace {

// Whether another thread can enter the section. The section has no try-enter,
// so while this thread still holds it the other thread waits until CTest's
// timeout fails the test.
bool AnotherThreadTakes(TCriticalSection& section) {
    bool taken = false;
    std::thread other([&] {
        TScopedLock lock(section);
        taken = true;
    });
    other.join();
    return taken;
}

TEST(TCriticalSection, HolderMayEnterAgain) {
    TCriticalSection section;
    section.Enter();
    section.Enter();
    {
        TScopedLock inner(section);
        TScopedLock innermost(&section);
    }
    section.Leave();
    section.Leave();

    // Fully left: another thread can take it.
    EXPECT_TRUE(AnotherThreadTakes(section));
}

TEST(TCriticalSection, ExcludesOtherThreads) {
    TCriticalSection section;
    long counter = 0;  // guarded by section
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kIncrements; ++i) {
                TScopedLock lock(section);
                ++counter;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, long{kThreads} * kIncrements);
}

TEST(TScopedLock, LeavesWhenAnExceptionLeavesTheScope) {
    TCriticalSection section;
    try {
        TScopedLock lock(section);
        throw std::runtime_error("leave the scope");
    } catch (const std::runtime_error&) {}
    // Would block for ever if the section were still held by this thread.
    EXPECT_TRUE(AnotherThreadTakes(section));
}

}  // namespace
}  // namespace KavV3Base
