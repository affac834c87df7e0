// Tests of the generator's jump-ahead against stepping it one draw at a time.

#include <cstdint>

#include <gtest/gtest.h>

#include "app/ao_random_jump.h"
#include "app/ao_scene.h"

namespace {

using namespace AoBench;

static_assert(RandomJump(0).multiplier == 1 && RandomJump(0).increment == 0);
static_assert(RandomJump(1).multiplier == kRandomMultiplier && RandomJump(1).increment == kRandomIncrement);

TEST(AoRandomJump, MatchesSteppingForEveryCountUpToAThousand) {
    for (const std::uint64_t start : {0x2B24688ull, 0x1234ABCD330Eull, 0xFFFFFFFFFFFFFFFFull, 0ull}) {
        std::uint64_t stepped = start;
        for (std::uint64_t steps = 0; steps <= 1000; ++steps) {
            ASSERT_EQ(ApplyRandomJump(RandomJump(steps), start), stepped) << steps << " steps from " << start;
            StepRandom(stepped);
        }
    }
}

TEST(AoRandomJump, LongJumpsMatchStepping) {
    // 2^20 + 12345 single steps, and the 128 draws of one shaded point
    // repeated over the whole single-threaded picture.
    std::uint64_t stepped = 0x2B24688;
    const std::uint64_t steps = (std::uint64_t{1} << 20) + 12345;
    for (std::uint64_t i = 0; i < steps; ++i) StepRandom(stepped);
    EXPECT_EQ(ApplyRandomJump(RandomJump(steps), 0x2B24688), stepped);

    std::uint64_t perPoint = 0x2B24688;
    for (int point = 0; point < 142874; ++point) perPoint = ApplyRandomJump(RandomJump(128), perPoint);
    EXPECT_EQ(ApplyRandomJump(RandomJump(142874ull * 128), 0x2B24688), perPoint);
    // Slot 0's state after the single-threaded render.
    EXPECT_EQ(perPoint, 0x651A093344594B88ull);
}

TEST(AoRandomJump, ComposesAndKeepsAllSixtyFourBits) {
    const TRandomJump a = RandomJump(37);
    const TRandomJump b = RandomJump(91);
    const TRandomJump ab = ComposeRandomJumps(a, b);
    EXPECT_EQ(ab.multiplier, RandomJump(128).multiplier);
    EXPECT_EQ(ab.increment, RandomJump(128).increment);
    // The full 64-bit state, bits above 47 included.
    EXPECT_EQ(ApplyRandomJump(RandomJump(1), 0x2B24688), 0x0FD4789846A637F3ull);
}

}  // namespace
