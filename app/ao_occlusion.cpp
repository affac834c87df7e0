// ao_occlusion.cpp - the per-point set-up of the occlusion rays, the dispatch
// to the active path, and the scalar path: the kernel's own sampling loop,
// one ray at a time.

#include "app/ao_occlusion.h"

#include <cmath>
#include <limits>

#include "app/ao_vector_paths.h"
#include "base/bit_cast.h"
#include "base/contract.h"

namespace AoBench {

namespace {

std::uint32_t Bits(float v) { return KavV3Base::BitCast<std::uint32_t>(v); }

// The tests behind GroundFrameQuery and SphereTestNeedsRoots, inline so that
// MakeOcclusionQuery applies them to the values it has just formed. Both
// combine their conditions without branches: a few integer operations cost
// less than the branches would.
inline bool IsGroundFrame(const TOcclusionQuery& query) {
    constexpr std::uint32_t kMagnitude = 0x7FFFFFFFu;  // all but the sign
    constexpr std::uint32_t kOne = 0x3F800000u, kMinusOne = 0xBF800000u;
    const TVec3 x = query.axisX, y = query.axisY, z = query.axisZ, n = query.plane.normal;
    const std::uint32_t eitherZero =
        (Bits(x.y) | Bits(x.z) | Bits(y.x) | Bits(y.y) | Bits(n.x) | Bits(n.z)) & kMagnitude;
    const std::uint32_t differ = eitherZero | (Bits(x.x) ^ kMinusOne) |        // X = (-1, 0, 0)
                                 (Bits(y.z) ^ kOne) |                          // Y = (0, 0, 1)
                                 Bits(z.x) | (Bits(z.y) ^ kOne) | Bits(z.z) |  // Z = (+0, 1, +0)
                                 (Bits(n.y) ^ kOne);                           // normal (0, 1, 0)
    return (differ == 0) & (query.planeDistance > 0.0f);
}

inline bool NeedsRoots(const TOcclusionQuery& query, bool groundFrame) {
    // Sums of magnitudes: a NaN anywhere makes a sum NaN, which fails every
    // comparison, so it asks for the roots too.
    const auto magnitude = [](TVec3 v) { return std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z); };
    // Frame axes whose components add up to at most 6 in magnitude keep every
    // direction component below 6 (the sample weights are at most 1); the
    // ground frame's add up to 3.
    bool fine =
        groundFrame || magnitude(query.axisX) + magnitude(query.axisY) + magnitude(query.axisZ) <= 6.0f;
    for (int i = 0; i < kSphereCount; ++i) {
        // Then |B| < 2^43, B^2 < 2^86 and with |C| <= 2^100 neither D, its root
        // nor a distance can overflow.
        const float size = std::fabs(query.sphereC[i]);
        fine &= (magnitude(query.sphereOffset[i]) <= 0x1p40f) & (size <= 0x1p100f);
        // An origin on the surface or just inside it: the far root of a ray
        // leaving the sphere at a tiny positive B depends on B^2 underflowing.
        // Just outside it, B^2 may be subnormal, where SphereReach's search
        // would not be short.
        fine &= size >= 0x1p-100f;
    }
    return !fine;
}

}  // namespace

bool GroundFrameQuery(const TOcclusionQuery& query) { return IsGroundFrame(query); }

bool SphereTestNeedsRoots(const TOcclusionQuery& query) { return NeedsRoots(query, false); }

float SphereReach(float c) {
    if (!(c > 0.0f)) return std::numeric_limits<float>::infinity();
    // t is the rounded root r = sqrt(c) (1 + e), |e| <= 2^-24, or one of its
    // neighbours; c lies in [2^-100, 2^100], so the squares are normal and
    // finite. Float neighbours differ by at least 2^-24 of their size. So the
    // float above r has a square of at least c (1 - 2^-47), which is within
    // half an ulp of c if below it and so rounds to c or above; and the float
    // two below r has a square of about c (1 - 2^-23) at most, more than half
    // an ulp below c, which rounds to below c.
    // The rounded square grows with its root, so t is the least of the three
    // whose rounded square reaches c.
    const float root = std::sqrt(c);
    const float below = KavV3Base::BitCast<float>(Bits(root) - 1);
    const float t =
        below * below >= c ? below : (root * root >= c ? root : KavV3Base::BitCast<float>(Bits(root) + 1));
    return -t;
}

TOcclusionQuery MakeOcclusionQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                   const TVec3& origin, const TVec3& axisX, const TVec3& axisY,
                                   const TVec3& axisZ, std::uint32_t rayCount) {
    TOcclusionQuery query;  // every field is set below
    query.origin = origin;
    query.axisX = axisX;
    query.axisY = axisY;
    query.axisZ = axisZ;
    query.plane = plane;
    for (int i = 0; i < kSphereCount; ++i) query.spheres[i] = spheres[i];
    query.rayCount = rayCount;

    // The same expressions, in the same order, as the scalar intersection
    // tests evaluate for every ray: they do not depend on the direction.
    query.planeDistance = Dot(origin, plane.normal) + plane.offset;
    for (int i = 0; i < kSphereCount; ++i) {
        const float rx = origin.x - spheres[i].center.x;
        const float ry = origin.y - spheres[i].center.y;
        const float rz = origin.z - spheres[i].center.z;
        // Dot(rs, rs) - radius^2, term by term (stored member by member, which
        // compilers keep in registers more readily than a copied TVec3).
        const float c = ((rx * rx + ry * ry) + rz * rz) - spheres[i].radius * spheres[i].radius;
        query.sphereOffset[i].x = rx;
        query.sphereOffset[i].y = ry;
        query.sphereOffset[i].z = rz;
        query.sphereC[i] = c;
        // Cheaper to form than to branch around; not read where roots are
        // needed.
        query.sphereReach[i] = SphereReach(c);
    }
    query.groundFrame = IsGroundFrame(query);
    query.sphereRootsNeeded = NeedsRoots(query, query.groundFrame);
    return query;
}

namespace {

constexpr TVec3 kUp{0.0f, 1.0f, 0.0f};

// The frame of the ground plane's normal, which most shaded points have:
// LookAt's result depends on its arguments alone, so it is built once.
const TMatrix4& UpNormalFrame() {
    static const TMatrix4 frame = [] {
        TMatrix4 m = TMatrix4::Identity();
        LookAt(m, -kUp, kUp);
        return m;
    }();
    return frame;
}

bool IsUpNormal(const TVec3& normal) {
    return Bits(normal.x) == 0 && Bits(normal.y) == 0x3F800000u && Bits(normal.z) == 0;
}

}  // namespace

TOcclusionQuery MakeShadedPointQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                     const TVec3& point, const TVec3& normal, std::uint32_t rayCount) {
    const TVec3 origin = point + normal * kRayEpsilon;
    TMatrix4 ownFrame;
    const TMatrix4* frame = &UpNormalFrame();
    if (!IsUpNormal(normal)) {
        ownFrame = TMatrix4::Identity();
        LookAt(ownFrame, -normal, kUp);
        frame = &ownFrame;
    }
    return MakeOcclusionQuery(plane, spheres, origin, frame->Row(0), frame->Row(1), frame->Row(2), rayCount);
}

void MakeOcclusionQueriesScalar(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                                TOcclusionQuery* queries) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const TVec3 point{points.pointX[i], points.pointY[i], points.pointZ[i]};
        const TVec3 normal{points.normalX[i], points.normalY[i], points.normalZ[i]};
        queries[i] = MakeShadedPointQuery(plane, spheres, point, normal, rayCount);
    }
}

void MakeOcclusionQueries(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                          const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                          TOcclusionQuery* queries) {
    CheckBatchSize(count);
    ActiveAoPathEntries().makeQueries(plane, spheres, points, count, rayCount, queries);
}

void MakeOcclusionQueries(TAoPath path, const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                          const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                          TOcclusionQuery* queries) {
    CheckBatchSize(count);
    SupportedAoPathEntries(path).makeQueries(plane, spheres, points, count, rayCount, queries);
}

namespace {

// The next ray's direction: draws r1, then phi, from the generator.
TVec3 NextRayDirection(const TOcclusionQuery& query, std::uint64_t& state) {
    const float r1 = static_cast<float>(static_cast<double>(StepRandom(state)) * 0x1p-32);
    const float phi =
        static_cast<float>(static_cast<double>(StepRandom(state)) * static_cast<double>(kPhiScale));

    const float s = std::sqrt(1.0f - r1);
    const float lx = static_cast<float>(std::cos(static_cast<double>(phi))) * s;
    const float ly = static_cast<float>(std::sin(static_cast<double>(phi))) * s;
    const float lz = std::sqrt(r1);

    return (query.axisZ * lz + query.axisY * ly) + query.axisX * lx;
}

}  // namespace

std::uint32_t CountOccludedScalar(const TOcclusionQuery& query, std::uint64_t& state) {
    std::uint32_t occluded = 0;
    for (std::uint32_t ray = 0; ray < query.rayCount; ++ray) {
        if (HitsScene(query.plane, query.spheres, query.origin, NextRayDirection(query, state))) ++occluded;
    }
    return occluded;
}

void RayDirectionsScalar(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz) {
    for (std::uint32_t ray = 0; ray < query.rayCount; ++ray) {
        const TVec3 dir = NextRayDirection(query, state);
        dx[ray] = dir.x;
        dy[ray] = dir.y;
        dz[ray] = dir.z;
    }
}

std::size_t EvaluateCosSinScalar(const float* angles, std::size_t count, float* cosOut, float* sinOut) {
    for (std::size_t i = 0; i < count; ++i) {
        cosOut[i] = static_cast<float>(std::cos(static_cast<double>(angles[i])));
        sinOut[i] = static_cast<float>(std::sin(static_cast<double>(angles[i])));
    }
    return 0;
}

std::uint32_t CountOccludedRays(TAoPath path, const TOcclusionQuery& query, std::uint64_t& state) {
    return SupportedAoPathEntries(path).countOccluded(query, state);
}

std::uint32_t CountOccludedRays(const TOcclusionQuery& query, std::uint64_t& state) {
    return ActiveAoPathEntries().countOccluded(query, state);
}

void RayDirections(TAoPath path, const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy,
                   float* dz) {
    SupportedAoPathEntries(path).rayDirections(query, state, dx, dy, dz);
}

std::size_t EvaluateCosSin(TAoPath path, const float* angles, std::size_t count, float* cosOut,
                           float* sinOut) {
    for (std::size_t i = 0; i < count; ++i) {
        // Negated, so that NaN fails too.
        KAV_CONTRACT(!(angles[i] < 0.0f || angles[i] > kMaxKernelAngle) && angles[i] == angles[i],
                     "angle %a is not one the kernel draws (0 to %a)", static_cast<double>(angles[i]),
                     static_cast<double>(kMaxKernelAngle));
    }
    return SupportedAoPathEntries(path).evaluateCosSin(angles, count, cosOut, sinOut);
}

}  // namespace AoBench
