// Tests of the primary rays: every vector path the CPU can run must give the
// scalar path's hit records, bit for bit, for the camera's rays and for rays
// that graze, start parallel to the plane or point anywhere.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_paths.h"
#include "app/ao_primary_rays.h"
#include "app/ao_scene.h"
#include "base/bit_cast.h"
#include "tests/app/ao_path_params.h"
#include "tests/app/ao_test_scene.h"

namespace {

using namespace AoBench;

std::uint32_t Bits(float v) { return KavV3Base::BitCast<std::uint32_t>(v); }

// Compares the records of rays [0, count) that hit; a miss must be a miss on
// both.
void ExpectSameHits(const TPrimaryHits& expected, const TPrimaryHits& actual, std::uint32_t count,
                    const std::string& where) {
    const std::uint64_t valid = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    ASSERT_EQ(actual.hitMask & valid, expected.hitMask & valid) << where;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (((expected.hitMask >> i) & 1) == 0) continue;
        ASSERT_EQ(Bits(actual.pointX[i]), Bits(expected.pointX[i])) << where << ", ray " << i;
        ASSERT_EQ(Bits(actual.pointY[i]), Bits(expected.pointY[i])) << where << ", ray " << i;
        ASSERT_EQ(Bits(actual.pointZ[i]), Bits(expected.pointZ[i])) << where << ", ray " << i;
        ASSERT_EQ(Bits(actual.normalX[i]), Bits(expected.normalX[i])) << where << ", ray " << i;
        ASSERT_EQ(Bits(actual.normalY[i]), Bits(expected.normalY[i])) << where << ", ray " << i;
        ASSERT_EQ(Bits(actual.normalZ[i]), Bits(expected.normalZ[i])) << where << ", ray " << i;
    }
}

class AoPrimaryRayPaths : public TVectorPathTest {
protected:
    void ExpectLikeScalar(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                          const std::string& where) {
        TPrimaryHits expected;
        TPrimaryHits actual;
        TracePrimaryRays(TAoPath::Scalar, scene, px, py, count, expected);
        TracePrimaryRays(GetParam(), scene, px, py, count, actual);
        ExpectSameHits(expected, actual, count, where);
    }
};

TEST_P(AoPrimaryRayPaths, CameraRaysOfEveryRowMatchScalar) {
    // The benchmark's camera: 256 x 256 pixels, 2 x 2 sub-samples.
    const TPrimaryScene scene = MakePrimaryScene(kPlane, kSpheres);
    float px[kPrimaryBatch];
    float py[kPrimaryBatch];
    for (int row = 0; row < 256; ++row) {
        for (int first = 0; first < 256 * 4; first += kPrimaryBatch) {
            CameraBatch(row, first, px, py);
            ExpectLikeScalar(scene, px, py, kPrimaryBatch, "row " + std::to_string(row));
        }
    }
}

TEST_P(AoPrimaryRayPaths, StrangeRaysAndPartialBatchesMatchScalar) {
    const TPrimaryScene scene = MakePrimaryScene(kPlane, kSpheres);
    std::mt19937_64 random(5);
    std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
    const float strange[] = {0.0f,
                             -0.0f,
                             1e-30f,
                             -1e-30f,
                             1e30f,
                             -1e30f,
                             std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN(),
                             0.25f,
                             -0.5f};
    float px[kPrimaryBatch];
    float py[kPrimaryBatch];
    for (int round = 0; round < 2000; ++round) {
        for (int i = 0; i < kPrimaryBatch; ++i) {
            px[i] = random() % 8 == 0 ? strange[random() % std::size(strange)] : wide(random);
            py[i] = random() % 8 == 0 ? strange[random() % std::size(strange)] : wide(random);
        }
        const auto count =
            static_cast<std::uint32_t>(round % 3 == 0 ? 1 + random() % kPrimaryBatch : kPrimaryBatch);
        ExpectLikeScalar(scene, px, py, count, "round " + std::to_string(round));
    }
}

TEST_P(AoPrimaryRayPaths, TieKeepsTheEarlierSphere) {
    // Two overlapping spheres that these two rays meet at the very same
    // distance, each with its own normal there.
    const TSphere overlapping[kSphereCount] = {
        {{0.0f, 0.0f, -3.0f}, 0.5f}, {{0.0f, 0.25f, -3.0f}, 0.5f}, {{5.0f, 5.0f, 5.0f}, 0.5f}};
    const TPrimaryScene scene = MakePrimaryScene(kPlane, overlapping);
    const float px[] = {-0x1.f8p-6f, 0x1.f8p-6f};
    const float py[] = {0x1.96p-5f, 0x1.96p-5f};
    TPrimaryHits expected;
    TracePrimaryRays(TAoPath::Scalar, scene, px, py, 2, expected);
    ASSERT_EQ(expected.hitMask, 0b11u);
    EXPECT_NEAR(expected.normalY[0], 0.25f, 1e-4f);  // the first sphere's normal
    EXPECT_NEAR(expected.normalY[1], 0.25f, 1e-4f);
    ExpectLikeScalar(scene, px, py, 2, "tie");
}

TEST_P(AoPrimaryRayPaths, OtherScenesMatchScalar) {
    // Two spheres in the same place, a sphere around the eye (the far root),
    // a tilted plane and one the eye lies on.
    const TSphere twins[kSphereCount] = {
        {{0.0f, 0.0f, -3.0f}, 0.5f}, {{0.0f, 0.0f, -3.0f}, 0.5f}, {{0.0f, 0.0f, 0.0f}, 10.0f}};
    const TPlane planes[] = {kPlane, {Normalized({0.2f, 1.0f, -0.3f}), 0.7f}, {{0.0f, 0.0f, 1.0f}, 0.0f}};
    std::mt19937_64 random(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    float px[kPrimaryBatch];
    float py[kPrimaryBatch];
    for (const TPlane& plane : planes) {
        for (const auto* spheres : {&kSpheres, &twins}) {
            const TPrimaryScene scene = MakePrimaryScene(plane, *spheres);
            for (int round = 0; round < 200; ++round) {
                for (int i = 0; i < kPrimaryBatch; ++i) {
                    px[i] = unit(random) * 0.2f;
                    py[i] = unit(random) * 0.2f;
                }
                ExpectLikeScalar(scene, px, py, kPrimaryBatch, "round " + std::to_string(round));
            }
        }
    }
}

KAV_INSTANTIATE_VECTOR_PATHS(AoPrimaryRayPaths);

TEST(AoPrimaryRays, ScalarPathFollowsTheKernel) {
    const TPrimaryScene scene = MakePrimaryScene(kPlane, kSpheres);
    EXPECT_EQ(scene.planeDistance, 0.5f);
    EXPECT_EQ(scene.sphereC[1], 0.25f + 9.0f - 0.25f);

    // Towards sphere 1's centre: its front, with the normal pointing back at
    // the eye; straight down: the ground at t = 0.5 with its stored normal;
    // straight up: nothing.
    const float px[] = {-0.5f / 3.0f, 0.0f, 0.0f};
    const float py[] = {0.0f, -1e9f, 1e9f};
    TPrimaryHits hits;
    TracePrimaryRays(TAoPath::Scalar, scene, px, py, 3, hits);
    EXPECT_EQ(hits.hitMask, 0b011u);
    const float centreDistance = std::sqrt(9.25f);
    EXPECT_NEAR(hits.pointZ[0], -3.0f + 1.5f / centreDistance, 1e-5f);
    EXPECT_NEAR(hits.normalX[0], 0.5f / centreDistance, 1e-5f);
    EXPECT_NEAR(hits.normalZ[0], 3.0f / centreDistance, 1e-5f);
    EXPECT_NEAR(hits.pointY[1], -0.5f, 1e-6f);
    EXPECT_EQ(hits.normalY[1], 1.0f);
}

}  // namespace
