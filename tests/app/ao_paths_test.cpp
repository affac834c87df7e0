// Tests of the table of kernel paths: what runs on which CPU, what this
// machine picks, and that a path the CPU cannot run is refused.

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_vector_paths.h"
#include "tests/app/ao_test_scene.h"
#include "tests/support/death_tests.h"

namespace {

using namespace AoBench;

TEST(AoPaths, WidestPathFollowsTheFeatures) {
    const bool x86 = AoPathCompiled(TAoPath::Avx2);
    EXPECT_EQ(AoPathCompiled(TAoPath::Avx512), x86);
    const TCpuFeatures avx2 = kCpuAvx2 | kCpuFma;
    const TCpuFeatures avx512 = avx2 | kCpuAvx512F | kCpuAvx512Dq;

    EXPECT_EQ(WidestAoPath(0), TAoPath::Scalar);
    // AVX2 without FMA, AVX-512 F without DQ, or AVX-512 without AVX2 and FMA
    // is not enough.
    EXPECT_EQ(WidestAoPath(kCpuAvx2), TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath(avx2), x86 ? TAoPath::Avx2 : TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath(avx2 | kCpuAvx512F), x86 ? TAoPath::Avx2 : TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath(kCpuAvx512F | kCpuAvx512Dq), TAoPath::Scalar);
    EXPECT_EQ(WidestAoPath(avx512), x86 ? TAoPath::Avx512 : TAoPath::Scalar);

    const bool neon = AoPathCompiled(TAoPath::Neon);
    EXPECT_EQ(WidestAoPath(kCpuNeon), neon ? TAoPath::Neon : TAoPath::Scalar);
    EXPECT_FALSE(AoPathRunsOn(TAoPath::Neon, avx512));
    // No build holds paths of two processor families.
    EXPECT_FALSE(neon && x86);

    const bool simd128 = AoPathCompiled(TAoPath::Simd128);
    EXPECT_EQ(WidestAoPath(kCpuSimd128), simd128 ? TAoPath::Simd128 : TAoPath::Scalar);
    EXPECT_FALSE(AoPathRunsOn(TAoPath::Simd128, avx512 | kCpuNeon));
    EXPECT_FALSE(simd128 && (x86 || neon));

    EXPECT_FALSE(AoPathRunsOn(static_cast<TAoPath>(-1), ~TCpuFeatures{0}));
    EXPECT_STREQ(AoPathName(static_cast<TAoPath>(-1)), "unknown");
}

TEST(AoPaths, EveryRowIsNamedOnceAndTheScalarOneAlwaysRuns) {
    std::set<std::string> names;
    for (TAoPath path : AoPaths()) {
        EXPECT_TRUE(names.insert(AoPathName(path)).second) << AoPathName(path);
        EXPECT_EQ(AoTargetOf(path)->path, path);
        EXPECT_EQ(AoPathCompiled(path), AoTargetOf(path)->entries != nullptr) << AoPathName(path);
        if (AoPathCompiled(path)) {
            EXPECT_EQ(AoPathEntries(path).path, path) << AoPathName(path);
        }
    }
    EXPECT_EQ(names.count("unknown"), 0u);
    EXPECT_TRUE(AoPathRunsOn(TAoPath::Scalar, 0));
    EXPECT_EQ(AoTargetOf(static_cast<TAoPath>(AoPaths().size())), nullptr);
}

TEST(AoPaths, ThisMachinePicksItsWidestSupportedPath) {
    UseWidestAoPath();
    const TAoPath active = ActiveAoPath();
    EXPECT_TRUE(AoPathSupported(active));
    EXPECT_EQ(active, WidestAoPath(DetectCpuFeatures()));
    for (TAoPath path : AoPaths()) {
        if (AoPathSupported(path)) {
            EXPECT_GE(AoTargetOf(active)->lanes, AoTargetOf(path)->lanes) << AoPathName(path);
        }
    }
    RecordProperty("active_path", AoPathName(active));
}

TEST(AoPaths, ForcingWorksOnlyForSupportedPaths) {
    const TCpuFeatures cpu = DetectCpuFeatures();
    for (TAoPath path : AoPaths()) {
        EXPECT_EQ(AoPathSupported(path), AoPathRunsOn(path, cpu)) << AoPathName(path);
        ASSERT_TRUE(SelectAoPath(TAoPath::Scalar));
        EXPECT_EQ(SelectAoPath(path), AoPathSupported(path)) << AoPathName(path);
        // A refused path leaves the earlier choice in place.
        EXPECT_EQ(ActiveAoPath(), AoPathSupported(path) ? path : TAoPath::Scalar) << AoPathName(path);
        // The kernel's calls go through the active path's table.
        EXPECT_EQ(&ActiveAoPathEntries(), &AoPathEntries(ActiveAoPath())) << AoPathName(path);
        if (!AoPathCompiled(path)) {
            EXPECT_EQ(&AoPathEntries(path), &kScalarPathEntries) << AoPathName(path);
        }
    }
    EXPECT_FALSE(SelectAoPath(static_cast<TAoPath>(AoPaths().size())));
    EXPECT_FALSE(SelectAoPath(static_cast<TAoPath>(-1)));
    UseWidestAoPath();
    EXPECT_EQ(ActiveAoPath(), WidestAoPath(cpu));
}

// A caller that names a path the CPU cannot run, hands over more primary rays
// or shaded points than a batch holds, or asks for an angle the kernel's
// evaluation was not made for, has a bug: the program stops and says so.
TEST(AoPathsDeathTest, BrokenContractsStopTheProgram) {
    KAV_START_DEATH_TEST();
    float angle = -1.0f;
    float cosine = 0.0f;
    float sine = 0.0f;
    EXPECT_DEATH(EvaluateCosSin(TAoPath::Scalar, &angle, 1, &cosine, &sine), "not one the kernel draws");
    angle = kMaxKernelAngle * 1.0001f;
    EXPECT_DEATH(EvaluateCosSin(TAoPath::Scalar, &angle, 1, &cosine, &sine), "not one the kernel draws");
    const TPrimaryScene scene{};
    const float coordinates[kPrimaryBatch + 1] = {};
    TPrimaryHits hits;
    EXPECT_DEATH(TracePrimaryRays(TAoPath::Scalar, scene, coordinates, coordinates, kPrimaryBatch + 1, hits),
                 "primary rays");
    const TShadedPoints points{};
    TOcclusionQuery queries[kPrimaryBatch + 1];
    EXPECT_DEATH(
        MakeOcclusionQueries(TAoPath::Scalar, kPlane, kSpheres, points, kPrimaryBatch + 1, 64, queries),
        "shaded points");
    for (TAoPath path : AoPaths()) {
        if (!AoPathSupported(path)) {
            std::uint64_t state = 0;
            EXPECT_DEATH(CountOccludedRays(path, TOcclusionQuery{}, state), "does not run")
                << AoPathName(path);
        }
    }
}

}  // namespace
