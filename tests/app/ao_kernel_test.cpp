// Tests of the AO scene geometry, the frame, the random generator and the
// per-pixel rules of the shading kernel.

#include <cstdint>

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

#include "3d/bitmap/bitmap.h"
#include "app/ao_render.h"
#include "app/ao_scene.h"
#include "base/bit_cast.h"

namespace {

using namespace AoBench;

TEST(AoRandom, FirstOutputsAndFullStateOfSlotZero) {
    TTest3DLoop_AmbOccTest_AO test;
    test.rngStates[0] = 0x2B24688;  // slot 0's value after Setup
    EXPECT_EQ(test.NextRandom(0), 0x789846A6u);
    // The state keeps all 64 bits: nothing above bit 47 is masked off.
    EXPECT_EQ(test.rngStates[0], 0x0FD4789846A637F3ull);
    EXPECT_EQ(test.NextRandom(0), 0x85CEB90Eu);
    EXPECT_EQ(test.rngStates[0], 0x3CB485CEB90E2482ull);
    EXPECT_EQ(test.NextRandom(0), 0x4683E3AAu);
    EXPECT_EQ(test.rngStates[0], 0x45684683E3AA5765ull);
}

TEST(AoRandom, StatesPerSlotAfterConstructionAndSetup) {
    TTest3DLoop_AmbOccTest_AO test;
    for (std::uint64_t state : test.rngStates) EXPECT_EQ(state, 0x1234ABCD330Eull);
    test.Setup();
    const std::uint64_t expected[8] = {0x2B24688, 0x44978A2, 0x550205B, 0x47BF459,
                                       0x35889EB, 0x1697BA4, 0x4E20F02, 0x4221027};
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(test.rngStates[slot], expected[slot]) << slot;
    EXPECT_EQ(test.subSamples, 2);
    EXPECT_EQ(test.aoSamples, 8);
    EXPECT_EQ(KavV3Base::BitCast<std::uint32_t>(test.spheres[2].center.z), 0xC00CCCCDu);
}

TEST(AoRandomDeathTest, SlotWithoutStateStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TTest3DLoop_AmbOccTest_AO test;
    EXPECT_DEATH(test.NextRandom(8), "thread slot 8 has no random generator state");
    EXPECT_DEATH(test.NextRandom(-1), "thread slot -1");
    TVec3 colour{};
    EXPECT_DEATH(test.AmbientOcclusion({0, 0, 0}, {0, 1, 0}, colour, 9), "thread slot 9");
}

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
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    std::uint64_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        const float ox = static_cast<float>(StepRandom(state) % 4000) / 1000.0f - 2.0f;
        const float oz = static_cast<float>(StepRandom(state) % 4000) / 1000.0f - 4.0f;
        const TVec3 origin{ox, -0.4999f, oz};
        const TVec3 dir = Normalized({static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f,
                                      static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f,
                                      static_cast<float>(StepRandom(state) % 2001) / 1000.0f - 1.0f});
        THit hit;
        IntersectScene(test.plane, test.spheres, origin, dir, hit);
        ASSERT_EQ(HitsScene(test.plane, test.spheres, origin, dir), hit.hit) << "seed 12345, ray " << i;
    }
}

TEST(AoShading, OpenGroundIsMultipleOfOneSixtyFourth) {
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    const std::uint64_t before = test.rngStates[3];
    TVec3 colour{};
    const TVec3* result = test.AmbientOcclusion({10.0f, -0.5f, 10.0f}, {0, 1, 0}, colour, 3);
    EXPECT_EQ(result, &colour);
    // Far from every sphere nothing blocks the hemisphere.
    EXPECT_EQ(colour.x, 1.0f);
    EXPECT_EQ(colour.y, colour.x);
    EXPECT_EQ(colour.z, colour.x);
    std::uint64_t expected = before;
    for (int i = 0; i < 128; ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[3], expected);

    // Under a sphere part of the sky is hidden: a multiple of 1/64 below 1.
    test.AmbientOcclusion({-0.5f, -0.5f, -3.0f}, {0, 1, 0}, colour, 3);
    EXPECT_LT(colour.x, 1.0f);
    EXPECT_EQ(colour.x * 64.0f, static_cast<float>(static_cast<int>(colour.x * 64.0f)));
}

// A pixel whose sub-samples all hit and are never occluded is opaque white.
class TOpenSkyAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3&, const TVec3&, TVec3& colour, int) override {
        colour = {1.0f, 1.0f, 1.0f};
        return &colour;
    }
};

TEST(AoShading, PixelPackingAndBackground) {
    TOpenSkyAo test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(256, 256, 32);
    auto* row0 = reinterpret_cast<std::uint32_t*>(bitmap.GetBits());
    auto* lastRow = reinterpret_cast<std::uint32_t*>(bitmap.GetBits() + 255 * bitmap.GetPitch());
    test.RenderRow(0, &bitmap, row0, 0);
    test.RenderRow(255, &bitmap, lastRow, 0);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(row0[x], 0xFFFFFFFFu) << x;     // looks down at the ground
        EXPECT_EQ(lastRow[x], 0xFF000000u) << x;  // looks up into nothing
    }
}

}  // namespace
