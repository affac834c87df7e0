// Tests of the millisecond clock.

#include "base/thread/clock.h"

#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "base/thread/platform.h"

namespace KavV3Base {
namespace {

static_assert(ElapsedSince(200, 100) == 100);
static_assert(ElapsedSince(5, 0xFFFFFFF0u) == 21);

TEST(Clock, ElapsedSinceSurvivesOneWrap) {
    EXPECT_EQ(ElapsedSince(100, 100), 0u);
    EXPECT_EQ(ElapsedSince(1100, 100), 1000u);
    // The timer wrapped after the base was read: now + 2^32 - base.
    EXPECT_EQ(ElapsedSince(5, 0xFFFFFFF0u), 21u);
    EXPECT_EQ(ElapsedSince(0, 1), 0xFFFFFFFFu);
    EXPECT_EQ(ElapsedSince(0xFFFFFFFFu, 0), 0xFFFFFFFFu);
}

TEST(Clock, ElapsedSinceIsTheDifferenceModulo2To32) {
    constexpr std::uint32_t kSeed = 20240611;
    std::mt19937 random(kSeed);
    for (int i = 0; i < 10000; ++i) {
        const std::uint32_t now = random();
        const std::uint32_t base = random();
        const std::uint64_t expected =
            (std::uint64_t{now} + (std::uint64_t{1} << 32) - base) % (std::uint64_t{1} << 32);
        const std::uint64_t got = ElapsedSince(now, base);
        ASSERT_EQ(got, expected) << "seed " << kSeed << ", now " << now << ", base " << base;
        ASSERT_EQ(got >> 32, 0u) << "seed " << kSeed;
    }
}

TEST(Clock, StartupRaisedTheResolutionAndReadTheBase) {
    EXPECT_EQ(Platform::TimerOpenPeriods(), 1);
    const std::uint32_t base = GetClockBase();
    InitClock();  // a second start-up step changes nothing
    EXPECT_EQ(GetClockBase(), base);
    EXPECT_EQ(Platform::TimerOpenPeriods(), 1);
}

TEST(Clock, SmallAfterStartupAndMonotonic) {
    const std::uint64_t first = GetMilliseconds();
    // Start-up was a moment ago; a generous bound for loaded machines.
    EXPECT_LT(first, 60000u);
    std::uint64_t previous = first;
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t now = GetMilliseconds();
        ASSERT_GE(now, previous);
        ASSERT_EQ(now >> 32, 0u);
        previous = now;
    }
}

}  // namespace
}  // namespace KavV3Base
