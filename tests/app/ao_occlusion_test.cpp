// Tests of the occlusion rays of a shaded point: the per-point terms of its
// query and the tests they decide, and every vector path the CPU can run,
// which must draw the same directions, count the same occluded rays, leave
// the same generator state and shade the same colours as the scalar path.

#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_random_jump.h"
#include "app/ao_render.h"
#include "app/ao_scene.h"
#include "base/bit_cast.h"
#include "tests/app/ao_path_params.h"
#include "tests/app/ao_test_scene.h"

namespace {

using namespace AoBench;

TOcclusionQuery QueryFrom(TVec3 origin, TVec3 normal, std::uint32_t rays) {
    TMatrix4 frame = TMatrix4::Identity();
    LookAt(frame, -normal, {0.0f, 1.0f, 0.0f});
    return MakeOcclusionQuery(kPlane, kSpheres, origin, frame.Row(0), frame.Row(1), frame.Row(2), rays);
}

// A shading situation like the render's, or a stranger one: points on the
// ground, on or inside the spheres, or anywhere, with matching or random
// normals.
struct TCase {
    TVec3 origin;
    TVec3 normal;
};

TCase RandomCase(std::mt19937_64& random) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const auto randomNormal = [&] { return Normalized({unit(random), unit(random), unit(random)}); };
    switch (random() % 4) {
        case 0:  // on the ground, around the spheres
            return {{3.0f * unit(random), -0.5f + 1e-4f, -3.0f + 2.0f * unit(random)}, {0.0f, 1.0f, 0.0f}};
        case 1: {  // on a sphere, just off its surface
            const TSphere& sphere = kSpheres[random() % kSphereCount];
            const TVec3 n = randomNormal();
            return {sphere.center + n * (sphere.radius * (1.0f + 1e-4f)), n};
        }
        case 2: {  // inside a sphere
            const TSphere& sphere = kSpheres[random() % kSphereCount];
            return {sphere.center + randomNormal() * (sphere.radius * 0.5f * (1.0f + unit(random))),
                    randomNormal()};
        }
        default:  // anywhere near the scene, facing anywhere
            return {{4.0f * unit(random), 2.0f * unit(random), -3.0f + 3.0f * unit(random)}, randomNormal()};
    }
}

class AoOcclusionPaths : public TVectorPathTest {};

// Whether the path's directions of the query's rays from start match the
// scalar kernel's bit for bit, and its count and end state too (which must be
// the start jumped by two steps per ray).
::testing::AssertionResult RaysMatchScalar(TAoPath path, const TOcclusionQuery& query, std::uint64_t start) {
    std::vector<float> expected[3], actual[3];
    for (int axis = 0; axis < 3; ++axis) {
        expected[axis].assign(query.rayCount, 0.0f);
        actual[axis].assign(query.rayCount, 0.0f);
    }
    RayDirections(TAoPath::Scalar, query, start, expected[0].data(), expected[1].data(), expected[2].data());
    RayDirections(path, query, start, actual[0].data(), actual[1].data(), actual[2].data());
    for (std::uint32_t ray = 0; ray < query.rayCount; ++ray) {
        for (int axis = 0; axis < 3; ++axis) {
            if (KavV3Base::BitCast<std::uint32_t>(actual[axis][ray]) !=
                KavV3Base::BitCast<std::uint32_t>(expected[axis][ray])) {
                return ::testing::AssertionFailure()
                       << "ray " << ray << ", axis " << axis << ": " << actual[axis][ray] << " against "
                       << expected[axis][ray];
            }
        }
    }
    std::uint64_t scalarState = start;
    std::uint64_t vectorState = start;
    const std::uint32_t expectedCount = CountOccludedRays(TAoPath::Scalar, query, scalarState);
    const std::uint32_t count = CountOccludedRays(path, query, vectorState);
    if (count != expectedCount) {
        return ::testing::AssertionFailure() << "count " << count << " against " << expectedCount;
    }
    if (vectorState != scalarState) return ::testing::AssertionFailure() << "end states differ";
    if (scalarState != ApplyRandomJump(RandomJump(2 * std::uint64_t{query.rayCount}), start)) {
        return ::testing::AssertionFailure() << "the scalar kernel's end state is not the jump's";
    }
    return ::testing::AssertionSuccess();
}

TEST_P(AoOcclusionPaths, RandomQueriesMatchScalar) {
    std::mt19937_64 random(20240611);
    // Ray counts around the lane widths exercise partial batches and steps.
    const std::uint32_t counts[] = {1, 2, 7, 8, 9, 15, 16, 17, 31, 33, 63, 64, 65, 100};
    for (int i = 0; i < 4000; ++i) {
        const TCase c = RandomCase(random);
        const std::uint32_t rays = i % 2 == 0 ? 64 : counts[i / 2 % std::size(counts)];
        ASSERT_TRUE(RaysMatchScalar(GetParam(), QueryFrom(c.origin, c.normal, rays), random()))
            << "case " << i << ", " << rays << " rays";
    }
}

TEST_P(AoOcclusionPaths, OriginsOnAndJustInsideSpheresMatchScalar) {
    std::mt19937_64 random(7);
    struct TEdge {
        TCase c;
        bool rootsNeeded;
    };
    const TEdge edges[] = {
        // Exactly on a sphere's surface (C == 0): the roots are computed.
        {{{-0.5f, 0.5f, -3.0f}, {0.0f, 1.0f, 0.0f}}, true},
        {{{-0.5f, 0.0f, -2.5f}, {0.0f, 0.0f, 1.0f}}, true},
        // One float inside the surface, where rays leave the sphere at tiny
        // positive B: decided by signs alone.
        {{{-0.5f, 0.0f, -2.5000002f}, Normalized({0.3f, 0.1f, 1.0f})}, false},
        {{{-0.5f, 0.0f, -2.5000002f}, {0.0f, 0.0f, -1.0f}}, false},
        // Beyond the size limits of the sign-only test.
        {{{3e12f, -0.4999f, -3.0f}, {0.0f, 1.0f, 0.0f}}, true},
        {{{0.0f, 4e13f, 0.0f}, {0.0f, -1.0f, 0.0f}}, true},
    };
    for (const TEdge& edge : edges) {
        const TOcclusionQuery query = QueryFrom(edge.c.origin, edge.c.normal, 64);
        EXPECT_EQ(query.sphereRootsNeeded, edge.rootsNeeded);
        for (int i = 0; i < 50; ++i) ASSERT_TRUE(RaysMatchScalar(GetParam(), query, random()));
    }
}

TEST_P(AoOcclusionPaths, NoRaysDrawNothing) {
    const TOcclusionQuery query = QueryFrom({0.0f, -0.4999f, -2.0f}, {0.0f, 1.0f, 0.0f}, 0);
    std::uint64_t state = 0x2B24688;
    EXPECT_EQ(CountOccludedRays(GetParam(), query, state), 0u);
    EXPECT_EQ(state, 0x2B24688u);
}

TEST_P(AoOcclusionPaths, AmbientOcclusionMatchesScalarPerCall) {
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    std::mt19937_64 random(99);
    for (int i = 0; i < 3000; ++i) {
        const TCase c = RandomCase(random);
        const int slot = static_cast<int>(random() % TTest3DLoop_AmbOccTest_AO::kRandomStateCount);
        const std::uint64_t start = random();
        test.aoSamples = i % 5 == 0 ? static_cast<int>(1 + random() % 12) : 8;

        TVec3 expected{};
        std::uint64_t expectedState = 0;
        {
            TForcedPath scalar(TAoPath::Scalar);
            ASSERT_TRUE(scalar.selected);
            test.rngStates[slot] = start;
            ASSERT_EQ(test.AmbientOcclusion(c.origin, c.normal, expected, slot), &expected);
            expectedState = test.rngStates[slot];
        }
        TForcedPath vector(GetParam());
        ASSERT_TRUE(vector.selected);
        test.rngStates[slot] = start;
        TVec3 colour{};
        test.AmbientOcclusion(c.origin, c.normal, colour, slot);
        ASSERT_EQ(KavV3Base::BitCast<std::uint32_t>(colour.x), KavV3Base::BitCast<std::uint32_t>(expected.x))
            << "case " << i;
        ASSERT_EQ(colour.y, colour.x);
        ASSERT_EQ(colour.z, colour.x);
        ASSERT_EQ(test.rngStates[slot], expectedState) << "case " << i;
    }
}

KAV_INSTANTIATE_VECTOR_PATHS(AoOcclusionPaths);

TEST(AoOcclusionQuery, PerPointTermsFollowTheScalarTests) {
    const TVec3 origin{0.25f, -0.4999f, -2.75f};
    const TOcclusionQuery query = QueryFrom(origin, {0.0f, 1.0f, 0.0f}, 64);
    EXPECT_EQ(query.planeDistance, Dot(origin, kPlane.normal) + kPlane.offset);
    for (int i = 0; i < kSphereCount; ++i) {
        const TVec3 rs = origin - kSpheres[i].center;
        EXPECT_EQ(query.sphereOffset[i].x, rs.x);
        EXPECT_EQ(query.sphereOffset[i].z, rs.z);
        EXPECT_EQ(query.sphereC[i], Dot(rs, rs) - 0.25f);
    }
    EXPECT_EQ(query.rayCount, 64u);
    EXPECT_FALSE(query.sphereRootsNeeded);
}

TEST(AoOcclusionQuery, SignOnlySphereTestIsRefusedOutsideItsLimits) {
    EXPECT_FALSE(QueryFrom({-0.5f, 0.2f, -3.0f}, {0.0f, 1.0f, 0.0f}, 64).sphereRootsNeeded);  // inside
    EXPECT_TRUE(QueryFrom({-0.5f, 0.5f, -3.0f}, {0.0f, 1.0f, 0.0f}, 64).sphereRootsNeeded);  // on the surface
    EXPECT_TRUE(QueryFrom({2e12f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 64).sphereRootsNeeded);   // far away
    TOcclusionQuery query = QueryFrom({0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 64);
    query.axisY.z = NAN;
    EXPECT_TRUE(SphereTestNeedsRoots(query));
    query.axisY.z = 5.0f;  // the axes' components now add up to more than 6
    EXPECT_TRUE(SphereTestNeedsRoots(query));
    // Just outside a sphere, where B^2 near C could be subnormal.
    query = QueryFrom({0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 64);
    query.sphereC[1] = 0x1p-101f;
    EXPECT_TRUE(SphereTestNeedsRoots(query));
    query.sphereC[1] = 0x1p-100f;
    EXPECT_FALSE(SphereTestNeedsRoots(query));
}

// SphereReach(c) is -t for the least t whose rounded square reaches c.
// Scaling c by 4 scales t by 2 exactly, so [1, 4) covers every exponent.
TEST(AoOcclusionQuery, SphereReachIsTheLeastMagnitudeWhoseSquareReachesC) {
    const auto down = [](float v) {
        return KavV3Base::BitCast<float>(KavV3Base::BitCast<std::uint32_t>(v) - 1);
    };
    std::uint32_t failures = 0;
    for (std::uint32_t bits = 0x3F800000u; bits < 0x40800000u; ++bits) {
        const float c = KavV3Base::BitCast<float>(bits);
        const float t = -SphereReach(c);
        failures += !(t * t >= c) || !(down(t) * down(t) < c);
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_EQ(SphereReach(0x1p-100f), -0x1p-50f);
    EXPECT_EQ(SphereReach(0x1p100f), -0x1p50f);
    EXPECT_EQ(SphereReach(0.0f), INFINITY);
    EXPECT_EQ(SphereReach(-0x1p-100f), INFINITY);
}

// The one comparison against the reach decides exactly what the discriminant
// and the skip of a sphere behind the origin decide, for B on both sides of
// the reach, of either sign, NaN included.
TEST(AoOcclusionQuery, SphereReachDecidesAsTheDiscriminantAndTheSkip) {
    std::mt19937_64 random(5);
    std::uniform_int_distribution<int> exponent(-100, 100);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    const auto step = [](float v, int n) {
        return KavV3Base::BitCast<float>(static_cast<std::uint32_t>(KavV3Base::BitCast<std::int32_t>(v) + n));
    };
    for (int i = 0; i < 20000; ++i) {
        const float c = (i % 4 == 0 ? -1.0f : 1.0f) * std::ldexp(mantissa(random), exponent(random));
        const float reach = SphereReach(c);
        const float near = std::isinf(reach) ? std::ldexp(mantissa(random), exponent(random) / 2) : reach;
        for (const float centre : {near, -near}) {
            for (int n = -3; n <= 3; ++n) {
                for (const float b : {step(centre, n), NAN}) {
                    const bool blocked = !((b * b - c) < 0.0f) && !(c > 0.0f && b > 0.0f);
                    ASSERT_EQ(!(b > reach), blocked) << "c " << c << ", b " << b;
                }
            }
        }
    }
}

// The sign-only sphere test relies on sqrt(x * x) == x, each operation
// rounded to single precision, whenever x * x does not underflow or
// overflow. Scaling x by 2 scales x * x by 4 exactly, so the binade [1, 2)
// covers every exponent.
TEST(AoOcclusionQuery, RoundedRootOfRoundedSquareIsExact) {
    std::uint32_t failures = 0;
    for (std::uint32_t bits = 0x3F800000u; bits < 0x40000000u; ++bits) {
        const float x = KavV3Base::BitCast<float>(bits);
        failures += std::sqrt(x * x) != x;
    }
    EXPECT_EQ(failures, 0u);
}

// The generator state whose next step gives `next`: the multiplier is odd,
// so it has an inverse modulo 2^64 (found by Newton's iteration).
std::uint64_t StateBefore(std::uint64_t next) {
    std::uint64_t inverse = kRandomMultiplier;  // right in the low 3 bits
    for (int i = 0; i < 6; ++i) inverse *= 2 - kRandomMultiplier * inverse;
    return (next - kRandomIncrement) * inverse;
}

TEST(AoOcclusionQuery, GroundFrameIsRecognisedOnlyWhereExact) {
    const TVec3 up{0.0f, 1.0f, 0.0f};
    const TOcclusionQuery ground = QueryFrom({0.25f, -0.5f + kRayEpsilon, -2.75f}, up, 64);
    EXPECT_TRUE(ground.groundFrame);
    // The frame's own bits, on which the direction identity rests.
    EXPECT_EQ(KavV3Base::BitCast<std::uint32_t>(ground.axisZ.x), 0u);
    EXPECT_EQ(KavV3Base::BitCast<std::uint32_t>(ground.axisZ.z), 0u);

    EXPECT_FALSE(QueryFrom({0.25f, -0.6f, -2.75f}, up, 64).groundFrame);  // below the plane
    EXPECT_FALSE(QueryFrom({0.25f, -0.5f, -2.75f}, up, 64).groundFrame);  // on it
    EXPECT_FALSE(QueryFrom({0.25f, 0.2f, -2.75f}, Normalized({0.0f, 1.0f, 1e-3f}), 64).groundFrame);
    TOcclusionQuery query = ground;
    query.axisZ.x = -0.0f;  // -0 * lz would leave a -0 in the sum
    EXPECT_FALSE(GroundFrameQuery(query));
    query = ground;
    query.plane.normal.y = 2.0f;
    EXPECT_FALSE(GroundFrameQuery(query));
    query = ground;
    query.axisX.y = -0.0f;  // zeros of X and Y may have either sign
    query.axisY.x = -0.0f;
    EXPECT_TRUE(GroundFrameQuery(query));
}

// The ground frame's shortcut, (0 - lx, lz, ly + 0), against the scalar
// kernel's products and sums, for the values where the sign of a zero could
// differ: zero weights of both signs, and the smallest and largest ones.
TEST(AoOcclusionQuery, GroundFrameDirectionsAreTheScalarOnesBitForBit) {
    const TOcclusionQuery ground = QueryFrom({0.25f, -0.5f + kRayEpsilon, -2.75f}, {0.0f, 1.0f, 0.0f}, 64);
    ASSERT_TRUE(ground.groundFrame);
    const float weights[] = {0.0f, -0.0f, 0x1p-149f, -0x1p-149f, 0x1p-16f, 0.5f, -0.75f, 1.0f, -1.0f};
    const auto bits = [](float v) { return KavV3Base::BitCast<std::uint32_t>(v); };
    for (float lx : weights) {
        for (float ly : weights) {
            for (float lz : weights) {
                if (std::signbit(lz)) continue;  // lz = sqrt(r1) is +0 or positive
                const TVec3 d = (ground.axisZ * lz + ground.axisY * ly) + ground.axisX * lx;
                ASSERT_EQ(bits(d.x), bits(0.0f - lx)) << lx << " " << ly << " " << lz;
                ASSERT_EQ(bits(d.y), bits(lz)) << lx << " " << ly << " " << lz;
                ASSERT_EQ(bits(d.z), bits(ly + 0.0f)) << lx << " " << ly << " " << lz;
            }
        }
    }
}

// Draws that make a weight zero: r1 = 1 (s = 0, so lx and ly are zeros) and
// phi = 0 (ly = +0), and r1 = 0 (lz = +0: a ray along the ground, which the
// plane must not block).
TEST_P(AoOcclusionPaths, GroundFrameRaysWithZeroWeightsMatchScalar) {
    const TOcclusionQuery ground = QueryFrom({-1.25f, -0.5f + kRayEpsilon, -3.3f}, {0.0f, 1.0f, 0.0f}, 64);
    ASSERT_TRUE(ground.groundFrame);
    const std::uint64_t high = 0xABCD000000000000ull;
    const std::uint64_t firstDraws[] = {high | (0xFFFFFFFFull << 16) | 0x1234, high | 0x5678,
                                        high | (0x80000000ull << 16)};
    for (std::uint64_t draw : firstDraws) {
        for (int phiZero = 0; phiZero < 2; ++phiZero) {
            // Ray 0 draws r1 from the state after the first step and phi from the
            // one after the second.
            std::uint64_t start = StateBefore(draw);
            if (phiZero != 0) start = StateBefore(StateBefore(high | 0x9ABC));  // ray 0's phi = 0
            ASSERT_TRUE(RaysMatchScalar(GetParam(), ground, start))
                << "draw " << std::hex << draw << std::dec << ", phi zero " << phiZero;
        }
    }
}

// A ray whose angle is one of those whose cosine or sine lies next to a
// single-precision rounding midpoint: the vector paths then take every
// cosine and sine of the step's rays from their library route, whatever the
// other rays' quadrants. Directions and counts still match the scalar ones.
TEST_P(AoOcclusionPaths, RaysAtTheHardestAnglesMatchScalar) {
    const std::uint32_t hardest[] = {0x3C107FE6u, 0x3D0650EAu, 0x3DCF5597u, 0x3E5FA70Eu, 0x3EF3830Fu};
    const auto phiOf = [](std::uint64_t u2) {
        return static_cast<float>(static_cast<double>(u2) * static_cast<double>(kPhiScale));
    };
    std::mt19937_64 random(17);
    for (const std::uint32_t bits : hardest) {
        const float angle = KavV3Base::BitCast<float>(bits);
        auto u2 = static_cast<std::uint64_t>(static_cast<double>(angle) / static_cast<double>(kPhiScale));
        while (phiOf(u2) < angle) ++u2;
        while (phiOf(u2) > angle) --u2;
        ASSERT_EQ(phiOf(u2), angle);
        for (const std::uint32_t ray : {0u, 5u, 37u, 63u}) {
            // The ray's phi comes from the state after 2 * ray + 2 steps.
            std::uint64_t start = (random() & 0xFFFF00000000FFFFull) | u2 << 16;
            for (std::uint32_t step = 0; step < 2 * ray + 2; ++step) start = StateBefore(start);
            const TCase cases[] = {{{0.5f, -0.5f + kRayEpsilon, -2.5f}, {0.0f, 1.0f, 0.0f}},
                                   RandomCase(random),
                                   RandomCase(random)};
            for (const TCase& c : cases) {
                const TOcclusionQuery query = QueryFrom(c.origin, c.normal, 64);
                ASSERT_TRUE(RaysMatchScalar(GetParam(), query, start))
                    << "angle " << angle << " at ray " << ray;
            }
        }
    }
}

}  // namespace
