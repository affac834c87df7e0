// ao_primary_rays.cpp - the per-scene set-up of the primary rays, their
// dispatch, and the scalar path: the kernel's own camera ray and nearest-hit
// test, one ray at a time.

#include "app/ao_primary_rays.h"

#include <cmath>

#include "app/ao_vector_paths.h"
#include "base/contract.h"

namespace AoBench {

namespace {

constexpr TVec3 kEye{0.0f, 0.0f, 0.0f};

}  // namespace

TPrimaryScene MakePrimaryScene(const TPlane& plane, const TSphere (&spheres)[kSphereCount]) {
    TPrimaryScene scene{};
    scene.plane = plane;
    scene.planeDistance = Dot(kEye, plane.normal) + plane.offset;
    for (int i = 0; i < kSphereCount; ++i) {
        scene.spheres[i] = spheres[i];
        const TVec3 rs = kEye - spheres[i].center;
        scene.sphereOffset[i] = rs;
        scene.sphereC[i] = Dot(rs, rs) - spheres[i].radius * spheres[i].radius;
    }
    return scene;
}

void TracePrimaryScalar(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                        TPrimaryHits& hits) {
    hits.hitMask = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        TVec3 dir{px[i], py[i], -1.0f};
        const float length2 = py[i] * py[i] + px[i] * px[i] + 1.0f;
        if (length2 > 0.0f) {
            const float k = 1.0f / std::sqrt(length2);
            dir = {px[i] * k, py[i] * k, -k};
        }

        THit hit;
        IntersectScene(scene.plane, scene.spheres, kEye, dir, hit);
        if (!hit.hit) continue;
        const TVec3 point = kEye + dir * hit.t;
        hits.hitMask |= std::uint64_t{1} << i;
        hits.pointX[i] = point.x;
        hits.pointY[i] = point.y;
        hits.pointZ[i] = point.z;
        hits.normalX[i] = hit.normal.x;
        hits.normalY[i] = hit.normal.y;
        hits.normalZ[i] = hit.normal.z;
    }
}

std::uint32_t GatherHitPoints(const TPrimaryHits& hits, std::uint32_t count, TShadedPoints& points) {
    CheckBatchSize(count);
    std::uint32_t gathered = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (((hits.hitMask >> i) & 1) == 0) continue;
        points.pointX[gathered] = hits.pointX[i];
        points.pointY[gathered] = hits.pointY[i];
        points.pointZ[gathered] = hits.pointZ[i];
        points.normalX[gathered] = hits.normalX[i];
        points.normalY[gathered] = hits.normalY[i];
        points.normalZ[gathered] = hits.normalZ[i];
        ++gathered;
    }
    return gathered;
}

void CheckBatchSize(std::uint32_t count) {
    KAV_CONTRACT(count <= static_cast<std::uint32_t>(kPrimaryBatch),
                 "a batch of %u primary rays or shaded points (at most %d)", count, kPrimaryBatch);
}

void TracePrimaryRays(TAoPath path, const TPrimaryScene& scene, const float* px, const float* py,
                      std::uint32_t count, TPrimaryHits& hits) {
    CheckBatchSize(count);
    SupportedAoPathEntries(path).tracePrimary(scene, px, py, count, hits);
}

void TracePrimaryRays(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                      TPrimaryHits& hits) {
    CheckBatchSize(count);
    ActiveAoPathEntries().tracePrimary(scene, px, py, count, hits);
}

}  // namespace AoBench
