// Tests of the occlusion queries built a batch of shaded points at a time:
// on every path the CPU can run, each query must be, field by field and bit
// for bit, the one the scalar kernel builds for its point (origin, LookAt's
// frame, MakeOcclusionQuery), for the render's own shaded points and for
// random and hostile ones, in batches of every size.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_primary_rays.h"
#include "app/ao_scene.h"
#include "base/bit_cast.h"
#include "tests/app/ao_path_params.h"
#include "tests/app/ao_test_scene.h"

namespace {

using namespace AoBench;

constexpr std::uint32_t kRays = 64;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Equal bit patterns; two NaNs count as equal whatever their payloads (see
// MakeOcclusionQueries).
bool SameFloat(float a, float b) {
    return KavV3Base::BitCast<std::uint32_t>(a) == KavV3Base::BitCast<std::uint32_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

void ExpectSameQuery(const TOcclusionQuery& expected, const TOcclusionQuery& actual,
                     const std::string& where) {
    const auto same = [&](const char* field, float e, float a) {
        EXPECT_TRUE(SameFloat(e, a)) << where << ": " << field << " " << std::hexfloat << e << " vs " << a;
    };
    const auto sameVec = [&](const char* field, const TVec3& e, const TVec3& a) {
        same(field, e.x, a.x);
        same(field, e.y, a.y);
        same(field, e.z, a.z);
    };
    sameVec("origin", expected.origin, actual.origin);
    sameVec("axisX", expected.axisX, actual.axisX);
    sameVec("axisY", expected.axisY, actual.axisY);
    sameVec("axisZ", expected.axisZ, actual.axisZ);
    sameVec("plane normal", expected.plane.normal, actual.plane.normal);
    same("plane offset", expected.plane.offset, actual.plane.offset);
    EXPECT_EQ(expected.rayCount, actual.rayCount) << where;
    same("planeDistance", expected.planeDistance, actual.planeDistance);
    for (int i = 0; i < kSphereCount; ++i) {
        sameVec("centre", expected.spheres[i].center, actual.spheres[i].center);
        same("radius", expected.spheres[i].radius, actual.spheres[i].radius);
        sameVec("sphereOffset", expected.sphereOffset[i], actual.sphereOffset[i]);
        same("sphereC", expected.sphereC[i], actual.sphereC[i]);
        same("sphereReach", expected.sphereReach[i], actual.sphereReach[i]);
    }
    EXPECT_EQ(expected.sphereRootsNeeded, actual.sphereRootsNeeded) << where;
    EXPECT_EQ(expected.groundFrame, actual.groundFrame) << where;
}

// The render's query for a point, built as its scalar kernel builds it.
TOcclusionQuery ReferenceQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount], TVec3 point,
                               TVec3 normal) {
    const TVec3 origin = point + normal * kRayEpsilon;
    TMatrix4 frame = TMatrix4::Identity();
    LookAt(frame, -normal, TVec3{0.0f, 1.0f, 0.0f});
    return MakeOcclusionQuery(plane, spheres, origin, frame.Row(0), frame.Row(1), frame.Row(2), kRays);
}

class AoQueryPaths : public TVectorPathTest {
protected:
    // Builds the batch on the path and compares every query with the
    // reference; entries past count must be left as they were.
    void ExpectLikeScalar(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                          const TShadedPoints& points, std::uint32_t count, const std::string& where) {
        std::vector<TOcclusionQuery> queries(kPrimaryBatch + 1);
        std::memset(static_cast<void*>(queries.data()), 0xA5, queries.size() * sizeof(TOcclusionQuery));
        MakeOcclusionQueries(GetParam(), plane, spheres, points, count, kRays, queries.data());
        for (std::uint32_t i = 0; i < count; ++i) {
            const TVec3 point{points.pointX[i], points.pointY[i], points.pointZ[i]};
            const TVec3 normal{points.normalX[i], points.normalY[i], points.normalZ[i]};
            ExpectSameQuery(ReferenceQuery(plane, spheres, point, normal), queries[i],
                            where + ", point " + std::to_string(i));
            if (HasFailure()) return;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(queries.data() + count);
        for (std::size_t b = 0; b < (queries.size() - count) * sizeof(TOcclusionQuery); ++b)
            ASSERT_EQ(bytes[b], 0xA5u) << where << ": written past the batch";
    }
};

TEST_P(AoQueryPaths, RenderPointsMatchScalar) {
    // The shaded sub-samples of every row of the 256 x 256 picture, batched
    // as the render batches them.
    const TPrimaryScene scene = MakePrimaryScene(kPlane, kSpheres);
    float px[kPrimaryBatch];
    float py[kPrimaryBatch];
    std::uint32_t sphereNormals = 0, groundNormals = 0;
    for (int row = 0; row < 256; ++row) {
        for (int first = 0; first < 256 * 4; first += kPrimaryBatch) {
            CameraBatch(row, first, px, py);
            TPrimaryHits hits;
            TracePrimaryRays(TAoPath::Scalar, scene, px, py, kPrimaryBatch, hits);
            TShadedPoints points;
            const std::uint32_t count = GatherHitPoints(hits, kPrimaryBatch, points);
            for (std::uint32_t i = 0; i < count; ++i)
                (points.normalY[i] == 1.0f ? groundNormals : sphereNormals) += 1;
            ExpectLikeScalar(kPlane, kSpheres, points, count, "row " + std::to_string(row));
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(sphereNormals, 10000u);
    EXPECT_GT(groundNormals, 10000u);
}

// A normal of one of several kinds: unit in any direction, of any length,
// parallel to up in either sense, with zeros of either sign, NaN, infinite,
// tiny or huge components.
float Component(std::mt19937_64& random) {
    static const float strange[] = {0.0f,   -0.0f, 1.0f,   -1.0f,   1e-30f,    -1e-30f,
                                    1e-45f, 1e30f, -1e30f, 3e38f,   kInf,      -kInf,
                                    kNaN,   0.5f,  1e20f,  -1e-20f, 0x1.8p40f, -0x1p40f};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    return random() % 3 == 0 ? strange[random() % std::size(strange)] : unit(random);
}

TVec3 RandomNormal(std::mt19937_64& random) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    switch (random() % 6) {
        case 0:
            return Normalized({unit(random), unit(random), unit(random)});
        case 1:
            return {0.0f, 1.0f, 0.0f};  // the ground's
        case 2: {
            // Parallel to up, or nearly: zeros of either sign, any length.
            const float signs[] = {0.0f, -0.0f, 1e-30f, -1e-38f};
            return {signs[random() % 4], Component(random), signs[random() % 4]};
        }
        default:
            return {Component(random), Component(random), Component(random)};
    }
}

// A point near the scene, on or inside a sphere, or anywhere.
TVec3 RandomPoint(std::mt19937_64& random, const TSphere (&spheres)[kSphereCount]) {
    std::uniform_real_distribution<float> near(-5.0f, 5.0f);
    const TSphere& sphere = spheres[random() % kSphereCount];
    switch (random() % 5) {
        case 0: {
            const TVec3 n = Normalized({near(random), near(random), near(random)});
            return sphere.center + n * sphere.radius;  // on the surface, give or take a rounding
        }
        case 1:
            return sphere.center;
        case 2:
            return {Component(random), Component(random), Component(random)};
        default:
            return {near(random), near(random), near(random)};
    }
}

void FillRandom(std::mt19937_64& random, const TSphere (&spheres)[kSphereCount], TShadedPoints& points) {
    for (int i = 0; i < kPrimaryBatch; ++i) {
        const TVec3 point = RandomPoint(random, spheres);
        const TVec3 normal = RandomNormal(random);
        points.pointX[i] = point.x;
        points.pointY[i] = point.y;
        points.pointZ[i] = point.z;
        points.normalX[i] = normal.x;
        points.normalY[i] = normal.y;
        points.normalZ[i] = normal.z;
    }
}

TEST_P(AoQueryPaths, RandomAndHostilePointsInBatchesOfEverySizeMatchScalar) {
    std::mt19937_64 random(16);
    TShadedPoints points;
    for (int round = 0; round < 40; ++round) {
        for (std::uint32_t count = 0; count <= kPrimaryBatch; ++count) {
            FillRandom(random, kSpheres, points);
            ExpectLikeScalar(kPlane, kSpheres, points, count,
                             "round " + std::to_string(round) + ", count " + std::to_string(count));
            if (HasFailure()) return;
        }
    }
}

TEST_P(AoQueryPaths, OtherScenesMatchScalar) {
    // A ground normal with signed zeros, a tilted plane, a plane the points
    // lie below, one that the origins of ground points at height 0.25 lie
    // on; spheres of no or tiny radius (C within 2^-100 of 0, or at that
    // bound, for an origin at the centre), a huge one and one far away.
    const float onPlane = 0.25f + kRayEpsilon;
    const TPlane planes[] = {{{-0.0f, 1.0f, 0.0f}, 0.5f},
                             {Normalized({0.2f, 1.0f, -0.3f}), 0.7f},
                             {{0.0f, 1.0f, 0.0f}, -100.0f},
                             {{0.0f, -1.0f, 0.0f}, 2.0f},
                             {{0.0f, 1.0f, 0.0f}, -onPlane}};
    const TSphere spheres[][kSphereCount] = {
        {{{0.0f, 0.0f, 0.0f}, 0.0f}, {{1.0f, 0.0f, 0.0f}, 1e-20f}, {{0.0f, 0.0f, -1.0f}, 1e30f}},
        {{{1e15f, 0.0f, 0.0f}, 0.5f}, {{-0.5f, 0.0f, -3.0f}, 0.5f}, {{0.0f, 2.0f, 0.0f}, 2.0f}},
        {{{0.0f, 0.0f, 0.0f}, 0x1p-50f},
         {{2.0f, 0.0f, 0.0f}, 0x1.000002p-50f},
         {{0.0f, 3.0f, 0.0f}, 0x1.fffffep-51f}}};
    std::mt19937_64 random(1616);
    TShadedPoints points;
    for (const TPlane& plane : planes) {
        for (const auto& scene : spheres) {
            for (int round = 0; round < 30; ++round) {
                FillRandom(random, scene, points);
                // Points at the centres with zero normals: the origin is the
                // centre itself.
                for (int i = 0; i < 4; ++i) {
                    points.pointX[i] = scene[i % kSphereCount].center.x;
                    points.pointY[i] = scene[i % kSphereCount].center.y;
                    points.pointZ[i] = scene[i % kSphereCount].center.z;
                    points.normalX[i] = 0.0f;
                    points.normalY[i] = i == 3 ? -0.0f : 0.0f;
                    points.normalZ[i] = 0.0f;
                }
                // Ground points at height 0.25.
                for (int i = 4; i < 8; ++i) {
                    points.pointY[i] = 0.25f;
                    points.normalX[i] = 0.0f;
                    points.normalY[i] = 1.0f;
                    points.normalZ[i] = 0.0f;
                }
                ExpectLikeScalar(plane, scene, points, kPrimaryBatch, "round " + std::to_string(round));
                if (HasFailure()) return;
            }
        }
    }
}

KAV_INSTANTIATE_VECTOR_PATHS(AoQueryPaths);

}  // namespace
