// Tests of the choice of occlusion path: what runs on which CPU, what this
// machine picks, and that a path the CPU cannot run is refused.

#include <gtest/gtest.h>

#include "app/ao_paths.h"
#include "app/ao_vector_paths.h"

namespace {

using namespace AoBench;

constexpr TAoPath kAllPaths[] = {TAoPath::Scalar, TAoPath::Avx2, TAoPath::Avx512, TAoPath::Neon};

TEST(AoPaths, WidestPathFollowsTheFeatures) {
    const bool vector = AoPathCompiled(TAoPath::Avx2);
    EXPECT_EQ(AoPathCompiled(TAoPath::Avx512), vector);

    EXPECT_EQ(WidestAoPath({}), TAoPath::Scalar);
    // AVX2 without FMA, or AVX-512 F without DQ, is not enough.
    EXPECT_EQ(WidestAoPath({true, false, false, false}), TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath({true, true, false, false}), vector ? TAoPath::Avx2 : TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath({true, true, true, false}), vector ? TAoPath::Avx2 : TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath({true, true, true, true}), vector ? TAoPath::Avx512 : TAoPath::Scalar);

    EXPECT_TRUE(AoPathRunsOn(TAoPath::Scalar, {}));
    EXPECT_FALSE(AoPathRunsOn(TAoPath::Avx2, {}));
    EXPECT_FALSE(AoPathRunsOn(TAoPath::Avx512, {true, true, false, true}));
    EXPECT_FALSE(AoPathRunsOn(static_cast<TAoPath>(7), {true, true, true, true, true}));

    TCpuFeatures arm;
    arm.neon = true;
    const bool neon = AoPathCompiled(TAoPath::Neon);
    EXPECT_EQ(WidestAoPath(arm), neon ? TAoPath::Neon : TAoPath::Scalar);
    EXPECT_EQ(AoPathRunsOn(TAoPath::Neon, arm), neon);
    EXPECT_FALSE(AoPathRunsOn(TAoPath::Neon, {true, true, true, true}));
    // No build holds paths of two processor families.
    EXPECT_FALSE(neon && vector);
}

TEST(AoPaths, NamesAreFixed) {
    EXPECT_STREQ(AoPathName(TAoPath::Scalar), "scalar");
    EXPECT_STREQ(AoPathName(TAoPath::Avx2), "avx2");
    EXPECT_STREQ(AoPathName(TAoPath::Avx512), "avx512");
    EXPECT_STREQ(AoPathName(TAoPath::Neon), "neon");
    EXPECT_STREQ(AoPathName(static_cast<TAoPath>(-1)), "unknown");
}

TEST(AoPaths, ThisMachinePicksItsWidestSupportedPath) {
    UseWidestAoPath();
    const TAoPath active = ActiveAoPath();
    EXPECT_TRUE(AoPathSupported(active));
    EXPECT_EQ(active, WidestAoPath(DetectCpuFeatures()));
    for (TAoPath path : kAllPaths) {
        if (AoPathSupported(path)) {
            EXPECT_GE(static_cast<int>(active), static_cast<int>(path)) << AoPathName(path);
        }
    }
    RecordProperty("active_path", AoPathName(active));
}

TEST(AoPaths, ForcingWorksOnlyForSupportedPaths) {
    const TCpuFeatures cpu = DetectCpuFeatures();
    for (TAoPath path : kAllPaths) {
        EXPECT_EQ(AoPathSupported(path), AoPathRunsOn(path, cpu)) << AoPathName(path);
        ASSERT_TRUE(SelectAoPath(TAoPath::Scalar));
        EXPECT_EQ(SelectAoPath(path), AoPathSupported(path)) << AoPathName(path);
        // A refused path leaves the earlier choice in place.
        EXPECT_EQ(ActiveAoPath(), AoPathSupported(path) ? path : TAoPath::Scalar) << AoPathName(path);
        // The kernel's calls go through the active path's table.
        EXPECT_EQ(&ActiveAoPathEntries(), &AoPathEntries(ActiveAoPath())) << AoPathName(path);
    }
    for (TAoPath path : kAllPaths) {
        if (!AoPathCompiled(path)) {
            EXPECT_EQ(&AoPathEntries(path), &kScalarPathEntries) << AoPathName(path);
        }
    }
    EXPECT_EQ(&AoPathEntries(static_cast<TAoPath>(-1)), &kScalarPathEntries);
    EXPECT_FALSE(SelectAoPath(static_cast<TAoPath>(kAoPathCount)));
    EXPECT_FALSE(SelectAoPath(static_cast<TAoPath>(-1)));
    EXPECT_TRUE(AoPathSupported(TAoPath::Scalar));
    UseWidestAoPath();
    EXPECT_EQ(ActiveAoPath(), WidestAoPath(cpu));
}

}  // namespace
