// ao_occlusion.h - the occlusion rays of one shaded point of the AO kernel:
// counting the blocked ones on the active path or a given one, and the scalar path.
//
// A shaded point casts its rays in a fixed order, each drawing two numbers
// from the slot's generator (r1, then phi). The vector paths give every lane
// its own pair of draws by jumping the generator ahead, and compute the
// directions and intersection tests with the same single-precision
// operations, in the same order, as the scalar kernel; cosine and sine are
// evaluated in double precision and rounded to single exactly as the scalar
// kernel's library calls are. So every path returns the same count and leaves
// the generator in the same state.

#pragma once

#include <cstddef>
#include <cstdint>

#include "app/ao_paths.h"
#include "app/ao_primary_rays.h"
#include "app/ao_scene.h"

namespace AoBench {

// Everything the occlusion rays of one shaded point need, fixed for that
// point. The scalar path reads the scene as it is; the vector paths read the
// per-point terms of the intersection tests, which MakeOcclusionQuery
// computes once with the scalar kernel's own operations.
struct TOcclusionQuery {
    TVec3 origin;
    TVec3 axisX;  // the shading frame: a ray's direction is
    TVec3 axisY;  // (axisZ * lz + axisY * ly) + axisX * lx
    TVec3 axisZ;
    TPlane plane;
    TSphere spheres[kSphereCount];
    std::uint32_t rayCount;

    float planeDistance;               // dot(origin, plane normal) + offset
    TVec3 sphereOffset[kSphereCount];  // origin - centre
    float sphereC[kSphereCount];       // dot(offset, offset) - radius^2
    // Whether the vector paths must compute the sphere roots. They need not
    // for any query whose values are of moderate size and whose origin is not
    // within 2^-100 of a sphere's surface: then the signs of B, C and D
    // decide each sphere test (see SphereTestNeedsRoots), and sphereReach
    // decides them in one comparison.
    bool sphereRootsNeeded;
    // Without the roots, sphere i blocks a ray exactly when B <= sphereReach[i]
    // or B is NaN (see SphereReach); meaningful only when the roots are not
    // needed.
    float sphereReach[kSphereCount];
    // Whether the frame is that of the upward normal and the plane can block
    // none of the rays (see GroundFrameQuery): then a ray's direction is
    // (0 - lx, lz, ly + 0) bit for bit, and the vector paths skip the plane.
    bool groundFrame;
};

// Whether the query's frame is exactly Z = (+0, 1, +0), X = (-1, 0, 0) and
// Y = (0, 0, 1) (the zeros of X and Y of either sign), and the plane's normal
// (0, 1, 0) (zeros of either sign) with the origin strictly above it.
//
// Directions: the scalar kernel forms (Z * lz + Y * ly) + X * lx per
// component, with lz = sqrt(r1) >= +0. x: +0 * lz = +0, plus the zero
// Y.x * ly gives +0, and +0 + (-1 * lx) is 0 - lx (both give +0 for a zero
// lx, -lx otherwise). y: 1 * lz = lz, and adding zeros to it changes nothing
// (lz is +0 or positive). z: +0 * lz + ly is ly, or +0 for ly = -0, and
// adding the zero X.z * lx leaves that; ly + 0 is exactly the same.
//
// Plane: v = dot(normal, d) is zero (skipped) or d.y = lz >= 2^-16, since
// r1 is 0 or at least 2^-32. Then -1 / v lies in [-2^16, -1], and t, the
// distance above the plane times it, is at most minus that distance: below
// 0, never accepted.
bool GroundFrameQuery(const TOcclusionQuery& query);

// Whether the vector paths must compute the sphere roots for this query to
// match the scalar kernel; see the sphere test of the vector kernel.
bool SphereTestNeedsRoots(const TOcclusionQuery& query);

// The bound on B below which a sphere with the given C blocks a ray, for the
// queries that need no roots (C >= 2^-100 or C <= -2^-100, |C| <= 2^100):
// -t for C > 0, where t is the least float whose rounded square is at least
// C, and +infinity for C <= 0.
//
// Without roots a ray is blocked when D = B * B - C is not below 0, unless
// C > 0 and B > 0. D, rounded, is below 0 exactly when the rounded B * B is
// below C, since rounding is monotonic and the difference of two unequal
// floats never rounds to zero; both tests are false for a NaN B. For C < 0
// that holds for every B. For C > 0 the ray must have B <= 0, where the
// rounded B * B grows with -B and reaches C exactly from -B = t on: so the
// ray is blocked exactly when B <= -t.
float SphereReach(float c);

// The query for rays from origin in the frame (axisX, axisY, axisZ).
TOcclusionQuery MakeOcclusionQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                   const TVec3& origin, const TVec3& axisX, const TVec3& axisY,
                                   const TVec3& axisZ, std::uint32_t rayCount);

// The query of the render's shaded point: rays from point + normal *
// kRayEpsilon in the frame of LookAt(identity, -normal, (0, 1, 0)), whose
// rows 0, 1 and 2 are the axes X, Y and Z. The frame of the ground's normal
// (0, 1, 0), which most points have, is built once.
TOcclusionQuery MakeShadedPointQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                     const TVec3& point, const TVec3& normal, std::uint32_t rayCount);

// The queries of points 0 .. count-1 (count <= kPrimaryBatch) into
// queries[0 .. count-1], on the active path: queries[i] is
// MakeShadedPointQuery of point i, every field bit for bit on every path
// (but for the payloads of NaNs, which no test of the kernel reads: the
// scalar code's compiler may swap the operands of a commutative operation,
// which picks the other operand's payload where both are NaN). Thread-safe:
// touches nothing but its arguments.
void MakeOcclusionQueries(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                          const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                          TOcclusionQuery* queries);

// The same on a given path, which the CPU must support (AoPathSupported).
void MakeOcclusionQueries(TAoPath path, const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                          const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                          TOcclusionQuery* queries);

// Number of the query's rays that hit the scene, on the active path. Advances
// state by 2 * rayCount generator steps, exactly as drawing r1 and phi for
// each ray in turn does. Thread-safe: touches nothing but its arguments.
std::uint32_t CountOccludedRays(const TOcclusionQuery& query, std::uint64_t& state);

// The same on a given path, which the CPU must support (AoPathSupported).
std::uint32_t CountOccludedRays(TAoPath path, const TOcclusionQuery& query, std::uint64_t& state);

// The directions of the query's rays from the given generator state, as the
// path computes them, into rayCount entries of each array. The counts alone
// seldom show a difference in the last bit of a direction; these do.
void RayDirections(TAoPath path, const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy,
                   float* dz);

// Cosine and sine of each angle, evaluated in double precision on the angle
// widened from single and rounded to single, by the code the path's render
// runs for a direction. The path must be supported, and every angle must be
// one the kernel can draw: within [0, kMaxKernelAngle]. On every path the
// results equal (float)std::cos((double)angle) and
// (float)std::sin((double)angle) for every such angle.
//
// Returns how many groups of angles (a step's worth of rays on the path)
// took their results from the library instead of the vector evaluation,
// because one of them lay too close to a rounding midpoint (always 0 on the
// scalar path).
std::size_t EvaluateCosSin(TAoPath path, const float* angles, std::size_t count, float* cosOut,
                           float* sinOut);

// The largest angle the kernel draws: u2 * K for u2 = 2^32 - 1, rounded.
inline constexpr float kMaxKernelAngle = 0x1.921fb6p+2f;

// The scalar path, which runs on every CPU and is the reference for the
// others (the vector paths are declared in ao_vector_paths.h).
std::uint32_t CountOccludedScalar(const TOcclusionQuery& query, std::uint64_t& state);
void MakeOcclusionQueriesScalar(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                                TOcclusionQuery* queries);
void RayDirectionsScalar(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz);
std::size_t EvaluateCosSinScalar(const float* angles, std::size_t count, float* cosOut, float* sinOut);

}  // namespace AoBench
