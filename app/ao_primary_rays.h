// ao_primary_rays.h - the primary rays of the AO kernel's camera: nearest
// hit, hit point and surface normal of a batch of sub-sample rays, on the
// active path.
//
// Primary rays draw no random numbers, so a row's rays can be traced ahead in
// batches while the shading still visits its sub-samples in the kernel's
// order. Every path computes each ray with the scalar kernel's
// single-precision operations in the same order, so the hit records are the
// same bit for bit.

#pragma once

#include <cstdint>

#include "app/ao_paths.h"
#include "app/ao_scene.h"

namespace AoBench {

// The most rays one call traces, and the most points a batch holds.
inline constexpr int kPrimaryBatch = 64;

// Stops the program when count exceeds kPrimaryBatch: a larger batch would
// be written past the arrays that hold one.
void CheckBatchSize(std::uint32_t count);

// The scene as seen from the eye at the origin, with the per-object terms of
// the intersection tests that do not depend on the direction, computed by
// the scalar kernel's own operations.
struct TPrimaryScene {
    TPlane plane;
    TSphere spheres[kSphereCount];
    float planeDistance;               // dot(eye, plane normal) + offset
    TVec3 sphereOffset[kSphereCount];  // eye - centre
    float sphereC[kSphereCount];       // dot(offset, offset) - radius^2
};

TPrimaryScene MakePrimaryScene(const TPlane& plane, const TSphere (&spheres)[kSphereCount]);

// A batch of surface points, member by member: point i and its normal.
struct TShadedPoints {
    float pointX[kPrimaryBatch];
    float pointY[kPrimaryBatch];
    float pointZ[kPrimaryBatch];
    float normalX[kPrimaryBatch];
    float normalY[kPrimaryBatch];
    float normalZ[kPrimaryBatch];
};

// Hit records of a batch: ray i hit something when bit i of hitMask is set,
// and then its point (eye + direction * t) and normal are as the scalar
// kernel computes them. The other entries are unspecified.
struct TPrimaryHits : TShadedPoints {
    std::uint64_t hitMask;
};

// The points and normals of the rays i < count that hit, in order, into
// points; returns how many.
std::uint32_t GatherHitPoints(const TPrimaryHits& hits, std::uint32_t count, TShadedPoints& points);

// Traces rays i < count (count <= kPrimaryBatch) from the eye along
// (px[i], py[i], -1), normalised, on the active path. Thread-safe: touches
// nothing but its arguments.
void TracePrimaryRays(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                      TPrimaryHits& hits);

// The same on a given path, which the CPU must support (AoPathSupported).
void TracePrimaryRays(TAoPath path, const TPrimaryScene& scene, const float* px, const float* py,
                      std::uint32_t count, TPrimaryHits& hits);

// The scalar path, which runs on every CPU and is the reference for the
// others (the vector paths are declared in ao_vector_paths.h).
void TracePrimaryScalar(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                        TPrimaryHits& hits);

}  // namespace AoBench
