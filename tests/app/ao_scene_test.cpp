// Tests of the AO scene's geometry: the look-at frame and the plane, sphere
// and whole-scene intersection tests.

#include <cstdint>

#include <gtest/gtest.h>

#include "app/ao_scene.h"
#include "tests/app/ao_test_scene.h"

namespace {

using namespace AoBench;

TEST(AoLookAt, GroundNormalFallsBackToFixedAxes) {
    TMatrix4 m = TMatrix4::Identity();
    LookAt(m, {-0.0f, -1.0f, -0.0f}, {0.0f, 1.0f, 0.0f});
    const TVec3 x = m.Row(0), y = m.Row(1), z = m.Row(2);
    EXPECT_EQ(x.x, -1.0f);
    EXPECT_EQ(x.y, 0.0f);
    EXPECT_EQ(x.z, 0.0f);
    EXPECT_EQ(y.x, 0.0f);
    EXPECT_EQ(y.y, 0.0f);
    EXPECT_EQ(y.z, 1.0f);
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 1.0f);
    EXPECT_EQ(z.z, 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
}

TEST(AoLookAt, FrameIsRightHandedAndOrthonormal) {
    const TVec3 normal = Normalized({0.3f, 0.8f, -0.5f});
    TMatrix4 m = TMatrix4::Identity();
    LookAt(m, -normal, {0.0f, 1.0f, 0.0f});
    const TVec3 x = m.Row(0), y = m.Row(1), z = m.Row(2);
    EXPECT_NEAR(z.x, normal.x, 1e-6f);
    EXPECT_NEAR(z.y, normal.y, 1e-6f);
    EXPECT_NEAR(z.z, normal.z, 1e-6f);
    EXPECT_NEAR(Dot(x, y), 0.0f, 1e-6f);
    EXPECT_NEAR(Dot(x, z), 0.0f, 1e-6f);
    const TVec3 xy = Cross(x, y);
    EXPECT_NEAR(xy.x, z.x, 1e-6f);
    EXPECT_NEAR(xy.y, z.y, 1e-6f);
    EXPECT_NEAR(xy.z, z.z, 1e-6f);
}

TEST(AoIntersect, PlaneRejectsParallelAndUpwardRays) {
    const TPlane plane{{0.0f, 1.0f, 0.0f}, 0.5f};
    THit parallel;
    IntersectPlane(plane, {0, 0, 0}, {0.0f, 0.0f, -1.0f}, parallel);
    EXPECT_FALSE(parallel.hit);
    THit upward;
    IntersectPlane(plane, {0, 0, 0}, Normalized({0.0f, 1.0f, -1.0f}), upward);
    EXPECT_FALSE(upward.hit);
    THit downward;
    IntersectPlane(plane, {0, 0, 0}, {0.0f, -1.0f, 0.0f}, downward);
    ASSERT_TRUE(downward.hit);
    EXPECT_EQ(downward.t, 0.5f);
    EXPECT_EQ(downward.normal.y, 1.0f);
}

TEST(AoIntersect, SphereNearFarGrazingAndBehind) {
    const TSphere sphere{{0.0f, 0.0f, -3.0f}, 0.5f};
    THit front;
    IntersectSphere(sphere, {0, 0, 0}, {0, 0, -1}, front);
    ASSERT_TRUE(front.hit);
    EXPECT_EQ(front.t, 2.5f);
    EXPECT_EQ(front.normal.z, 1.0f);

    // Grazing: D is exactly 0 and the ray still hits at t = -B.
    THit grazing;
    IntersectSphere(sphere, {0.5f, 0, 0}, {0, 0, -1}, grazing);
    ASSERT_TRUE(grazing.hit);
    EXPECT_EQ(grazing.t, 3.0f);

    // Starting inside: the far root counts.
    THit inside;
    IntersectSphere(sphere, {0, 0, -3.0f}, {0, 0, -1}, inside);
    ASSERT_TRUE(inside.hit);
    EXPECT_EQ(inside.t, 0.5f);

    THit behind;
    IntersectSphere(sphere, {0, 0, 0}, {0, 0, 1}, behind);
    EXPECT_FALSE(behind.hit);
}

TEST(AoIntersect, TieKeepsTheEarlierObject) {
    const TSphere a{{0.0f, 0.0f, -3.0f}, 0.5f};
    const TSphere b{{0.0f, 0.0f, -3.0f}, 0.5f};
    THit hit;
    IntersectSphere(a, {0, 0, 0}, {0, 0, -1}, hit);
    hit.normal = {9.0f, 9.0f, 9.0f};  // mark the first acceptance
    IntersectSphere(b, {0, 0, 0}, {0, 0, -1}, hit);
    EXPECT_EQ(hit.normal.x, 9.0f);
}

TEST(AoIntersect, OcclusionFlagMatchesNearestHit) {
    std::uint64_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        const float ox = static_cast<float>(StepRandom(state) % 4000) / 1000.0f - 2.0f;
        const float oz = static_cast<float>(StepRandom(state) % 4000) / 1000.0f - 4.0f;
        const TVec3 origin{ox, -0.4999f, oz};
        const TVec3 dir = Normalized({static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f,
                                      static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f,
                                      static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f});
        THit hit;
        IntersectScene(kPlane, kSpheres, origin, dir, hit);
        ASSERT_EQ(HitsScene(kPlane, kSpheres, origin, dir), hit.hit) << "seed 12345, ray " << i;
    }
}

}  // namespace
