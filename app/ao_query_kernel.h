// ao_query_kernel.h - the occlusion queries of a batch of shaded points,
// V::kLanes points at a time, written once over an operation set V and
// instantiated by the unit built for each instruction set.
//
// Included only by those units; like the occlusion kernel, all of it is a
// template over V and it calls no inline function of the shared headers, so
// nothing compiled with wide instructions can be shared through the linker.
//
// Each lane repeats, with the same single-precision operations in the same
// order, what MakeShadedPointQuery computes for one point: the origin
// point + normal * kRayEpsilon; the frame of LookAt(identity, -normal, up)
// for up = (0, 1, 0), with its tests of squared lengths and its fallback for
// a normal parallel to up as selections (the ground's normal (0, 1, 0) goes
// through the same operations, which give the frame built once for it: the
// arguments are the same); and then MakeOcclusionQuery's terms, SphereReach's
// choice among neighbours of the root, IsGroundFrame's bit tests and
// NeedsRoots's size checks. Multiplications by the components of up are done
// as they are in LookAt, not simplified: x * 0 is not always +0.

#pragma once

#include <cstdint>

#include "app/ao_occlusion.h"
#include "app/ao_scene.h"

namespace AoBench::AoVectorKernel {

template <class V>
struct TQueryVectors {
    using F = typename V::F;
    F x, y, z;
};

// Components added in LookAt's and Dot's order: (x + y) + z.
template <class V>
typename V::F SumOf(typename V::F x, typename V::F y, typename V::F z) {
    return V::Add(V::Add(x, y), z);
}

template <class V>
typename V::F DotOf(TQueryVectors<V> a, TQueryVectors<V> b) {
    return SumOf<V>(V::Mul(a.x, b.x), V::Mul(a.y, b.y), V::Mul(a.z, b.z));
}

template <class V>
TQueryVectors<V> CrossOf(TQueryVectors<V> a, TQueryVectors<V> b) {
    return {V::Sub(V::Mul(a.y, b.z), V::Mul(a.z, b.y)), V::Sub(V::Mul(a.z, b.x), V::Mul(a.x, b.z)),
            V::Sub(V::Mul(a.x, b.y), V::Mul(a.y, b.x))};
}

// v * (1 / sqrt(|v|^2)) in the lanes where |v|^2 > 0, otherwise `otherwise`.
template <class V>
TQueryVectors<V> NormalizedOr(TQueryVectors<V> v, TQueryVectors<V> otherwise) {
    const typename V::F length2 = DotOf<V>(v, v);
    const typename V::FMask scale = V::Greater(length2, V::Set(0.0f));
    const typename V::F inverse = V::Div(V::Set(1.0f), V::Sqrt(length2));
    return {V::Select(scale, V::Mul(v.x, inverse), otherwise.x),
            V::Select(scale, V::Mul(v.y, inverse), otherwise.y),
            V::Select(scale, V::Mul(v.z, inverse), otherwise.z)};
}

template <class V>
typename V::F Magnitude(typename V::F a) {
    return V::AsFloat(V::And32(V::AsInt(a), V::Set32(0x7FFFFFFFu)));
}

// fabs(x) + fabs(y) + fabs(z), as NeedsRoots adds them.
template <class V>
typename V::F MagnitudeSum(TQueryVectors<V> v) {
    return SumOf<V>(Magnitude<V>(v.x), Magnitude<V>(v.y), Magnitude<V>(v.z));
}

// The per-call constants: the scene's terms that no point changes.
struct TQueryScene {
    const TPlane* plane;
    const TSphere* spheres;
    float radius2[kSphereCount];
    std::uint32_t rayCount;
};

// The queries of the kLanes points at p[k] + first (k = point x, y, z,
// normal x, y, z), of which the first `lanes` are stored at out.
template <class V>
void MakeQueryLanes(const TQueryScene& scene, const float* const (&p)[6], int first, int lanes,
                    TOcclusionQuery* out) {
    using F = typename V::F;
    using FMask = typename V::FMask;
    using I = typename V::I;
    using Vec = TQueryVectors<V>;
    constexpr int kLanes = V::kLanes;
    const F zero = V::Set(0.0f);
    const F one = V::Set(1.0f);
    const TPlane& plane = *scene.plane;

    const Vec normal{V::Load(p[3] + first), V::Load(p[4] + first), V::Load(p[5] + first)};
    const F epsilon = V::Set(kRayEpsilon);
    const Vec origin{V::Add(V::Load(p[0] + first), V::Mul(normal.x, epsilon)),
                     V::Add(V::Load(p[1] + first), V::Mul(normal.y, epsilon)),
                     V::Add(V::Load(p[2] + first), V::Mul(normal.z, epsilon))};

    // LookAt with the eye at the origin: f = target - eye for the target
    // -normal, normalised; Z = -f.
    const Vec f{V::Sub(V::Negate(normal.x), zero), V::Sub(V::Negate(normal.y), zero),
                V::Sub(V::Negate(normal.z), zero)};
    const Vec fUnit = NormalizedOr<V>(f, f);
    const Vec z{V::Negate(fUnit.x), V::Negate(fUnit.y), V::Negate(fUnit.z)};
    // Xp = Z x up, normalised; where it is not positive in squared length,
    // -/+ (1, 0, 0) by the sign of dot(up, Z) (+ for a NaN).
    const Vec up{zero, one, zero};
    const F upDotZ = DotOf<V>(up, z);
    const Vec fallback{V::Select(V::Less(upDotZ, zero), V::Set(-1.0f), one), zero, zero};
    const Vec xp = NormalizedOr<V>(CrossOf<V>(z, up), fallback);
    // Yp = Xp x Z, normalised where positive in squared length.
    const Vec yCross = CrossOf<V>(xp, z);
    const Vec y = NormalizedOr<V>(yCross, yCross);
    const Vec x{V::Negate(xp.x), V::Negate(xp.y), V::Negate(xp.z)};

    // MakeOcclusionQuery's terms.
    const F planeDistance =
        V::Add(DotOf<V>(origin, Vec{V::Set(plane.normal.x), V::Set(plane.normal.y), V::Set(plane.normal.z)}),
               V::Set(plane.offset));
    Vec offset[kSphereCount];
    F c[kSphereCount];
    F reach[kSphereCount];
    const F infinity = V::AsFloat(V::Set32(0x7F800000u));
    for (int i = 0; i < kSphereCount; ++i) {
        const TVec3 centre = scene.spheres[i].center;
        offset[i] = {V::Sub(origin.x, V::Set(centre.x)), V::Sub(origin.y, V::Set(centre.y)),
                     V::Sub(origin.z, V::Set(centre.z))};
        c[i] = V::Sub(DotOf<V>(offset[i], offset[i]), V::Set(scene.radius2[i]));
        // SphereReach: -t for the least of the root's lower neighbour, the
        // root and its upper neighbour whose rounded square reaches C, where
        // C > 0; +infinity elsewhere.
        const F root = V::Sqrt(c[i]);
        const F below = V::AsFloat(V::Sub32(V::AsInt(root), V::Set32(1)));
        const F above = V::AsFloat(V::Add32(V::AsInt(root), V::Set32(1)));
        const F t = V::Select(V::GreaterEqual(V::Mul(below, below), c[i]), below,
                              V::Select(V::GreaterEqual(V::Mul(root, root), c[i]), root, above));
        reach[i] = V::Select(V::Greater(c[i], zero), V::Negate(t), infinity);
    }

    // IsGroundFrame: X = (-1, 0, 0), Y = (0, 0, 1), Z = (+0, 1, +0) and the
    // plane's normal (0, 1, 0), zeros of X, Y and the normal of either sign;
    // the origin strictly above the plane.
    const I magnitudeBits = V::Set32(0x7FFFFFFFu);
    const I oneBits = V::Set32(0x3F800000u);
    const I planeDiffers = V::Or32(
        V::And32(V::Or32(V::AsInt(V::Set(plane.normal.x)), V::AsInt(V::Set(plane.normal.z))), magnitudeBits),
        V::Xor32(V::AsInt(V::Set(plane.normal.y)), oneBits));
    const I eitherZero = V::And32(
        V::Or32(V::Or32(V::AsInt(x.y), V::AsInt(x.z)), V::Or32(V::AsInt(y.x), V::AsInt(y.y))), magnitudeBits);
    const I frameDiffers =
        V::Or32(V::Or32(V::Xor32(V::AsInt(x.x), V::Set32(0xBF800000u)), V::Xor32(V::AsInt(y.z), oneBits)),
                V::Or32(V::Or32(V::AsInt(z.x), V::Xor32(V::AsInt(z.y), oneBits)), V::AsInt(z.z)));
    const FMask ground =
        V::And(V::Equal32(V::Or32(V::Or32(eitherZero, frameDiffers), planeDiffers), V::Set32(0)),
               V::Greater(planeDistance, zero));

    // NeedsRoots: moderate frame axes (or the ground frame), offsets and C,
    // and C not within 2^-100 of 0. A NaN fails every comparison.
    const F frameSize = SumOf<V>(MagnitudeSum<V>(x), MagnitudeSum<V>(y), MagnitudeSum<V>(z));
    FMask fine = V::Or(ground, V::GreaterEqual(V::Set(6.0f), frameSize));
    for (int i = 0; i < kSphereCount; ++i) {
        const F size = Magnitude<V>(c[i]);
        fine = V::And(fine, V::And(V::GreaterEqual(V::Set(0x1p40f), MagnitudeSum<V>(offset[i])),
                                   V::GreaterEqual(V::Set(0x1p100f), size)));
        fine = V::And(fine, V::GreaterEqual(size, V::Set(0x1p-100f)));
    }

    // Out lane by lane.
    enum : int { kOx, kOy, kOz, kXx, kXy, kXz, kYx, kYy, kYz, kZx, kZy, kZz, kPlane, kSphereFields };
    constexpr int kFields = kSphereFields + 5 * kSphereCount;
    alignas(64) float lane[kFields][kLanes];
    const F fields[kSphereFields] = {origin.x, origin.y, origin.z, x.x, x.y, x.z,          y.x,
                                     y.y,      y.z,      z.x,      z.y, z.z, planeDistance};
    for (int k = 0; k < kSphereFields; ++k) V::Store(lane[k], fields[k]);
    for (int i = 0; i < kSphereCount; ++i) {
        float(*sphere)[kLanes] = lane + kSphereFields + 5 * i;
        V::Store(sphere[0], offset[i].x);
        V::Store(sphere[1], offset[i].y);
        V::Store(sphere[2], offset[i].z);
        V::Store(sphere[3], c[i]);
        V::Store(sphere[4], reach[i]);
    }
    const std::uint32_t groundBits = V::Bits(ground);
    const std::uint32_t fineBits = V::Bits(fine);
    for (int l = 0; l < lanes; ++l) {
        TOcclusionQuery& query = out[l];
        query.origin = {lane[kOx][l], lane[kOy][l], lane[kOz][l]};
        query.axisX = {lane[kXx][l], lane[kXy][l], lane[kXz][l]};
        query.axisY = {lane[kYx][l], lane[kYy][l], lane[kYz][l]};
        query.axisZ = {lane[kZx][l], lane[kZy][l], lane[kZz][l]};
        query.plane = plane;
        for (int i = 0; i < kSphereCount; ++i) query.spheres[i] = scene.spheres[i];
        query.rayCount = scene.rayCount;
        query.planeDistance = lane[kPlane][l];
        for (int i = 0; i < kSphereCount; ++i) {
            const float(*sphere)[kLanes] = lane + kSphereFields + 5 * i;
            query.sphereOffset[i] = {sphere[0][l], sphere[1][l], sphere[2][l]};
            query.sphereC[i] = sphere[3][l];
            query.sphereReach[i] = sphere[4][l];
        }
        query.sphereRootsNeeded = ((fineBits >> l) & 1) == 0;
        query.groundFrame = ((groundBits >> l) & 1) != 0;
    }
}

// See MakeOcclusionQueries (count <= kPrimaryBatch, checked by the caller).
template <class V>
void MakeQueries(const TPlane& plane, const TSphere (&spheres)[kSphereCount], const TShadedPoints& points,
                 std::uint32_t count, std::uint32_t rayCount, TOcclusionQuery* queries) {
    constexpr int kLanes = V::kLanes;
    TQueryScene scene{&plane, spheres, {}, rayCount};
    for (int i = 0; i < kSphereCount; ++i) scene.radius2[i] = spheres[i].radius * spheres[i].radius;

    const float* const all[6] = {points.pointX,  points.pointY,  points.pointZ,
                                 points.normalX, points.normalY, points.normalZ};
    const int whole = static_cast<int>(count) / kLanes * kLanes;
    for (int first = 0; first < whole; first += kLanes)
        MakeQueryLanes<V>(scene, all, first, kLanes, queries + first);
    const int left = static_cast<int>(count) - whole;
    if (left == 0) return;

    // The last, partial group from padded copies.
    alignas(64) float pad[6][kLanes] = {};
    for (int k = 0; k < 6; ++k) {
        for (int l = 0; l < left; ++l) pad[k][l] = all[k][whole + l];
    }
    const float* const padded[6] = {pad[0], pad[1], pad[2], pad[3], pad[4], pad[5]};
    MakeQueryLanes<V>(scene, padded, 0, left, queries + whole);
}

}  // namespace AoBench::AoVectorKernel
