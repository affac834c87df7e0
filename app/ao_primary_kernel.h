// ao_primary_kernel.h - the vector primary-ray kernel, written once over an
// operation set V and instantiated by the unit built for each instruction set.
//
// Included only by those units; like the occlusion kernel, all of it is a
// template over V and it calls no inline function of the shared headers, so
// nothing compiled with wide instructions can be shared through the linker.
//
// Each lane repeats, with the same single-precision operations in the same
// order, what the scalar kernel computes for one camera ray: the normalised
// direction, the nearest-hit test over the plane and the spheres in their
// fixed order (a later object wins only when strictly nearer), the hit point
// eye + direction * t, and the normal: the plane's as stored, or the
// normalised offset of the hit point from the winning sphere's centre.

#pragma once

#include <cstdint>

#include "app/ao_primary_rays.h"
#include "app/ao_scene.h"
#include "app/ao_vector_ops.h"

namespace AoBench::AoVectorKernel {

template <class V>
void TracePrimaryLanes(const TPrimaryScene& scene, const float* pxIn, const float* pyIn, int first,
                       TPrimaryHits& hits) {
    using F = typename V::F;
    using FMask = typename V::FMask;
    const F zero = V::Set(0.0f);
    const F px = V::Load(pxIn + first);
    const F py = V::Load(pyIn + first);

    // Direction (px, py, -1), normalised when its squared length is positive.
    const F length2 = V::Add(V::Add(V::Mul(py, py), V::Mul(px, px)), V::Set(1.0f));
    const FMask positive = V::Greater(length2, zero);
    const F k = V::Div(V::Set(1.0f), V::Sqrt(length2));
    const F dx = V::Select(positive, V::Mul(px, k), px);
    const F dy = V::Select(positive, V::Mul(py, k), py);
    const F dz = V::Select(positive, V::Negate(k), V::Set(-1.0f));

    // Plane: accepted when dot(normal, d) is not 0 and 0 <= t < the start
    // distance.
    const TPlane& plane = scene.plane;
    const F v = V::Add(V::Add(V::Mul(V::Set(plane.normal.x), dx), V::Mul(V::Set(plane.normal.y), dy)),
                       V::Mul(V::Set(plane.normal.z), dz));
    const F planeT = V::Mul(V::Set(scene.planeDistance), V::Div(V::Set(-1.0f), v));
    FMask hit = V::And(V::And(V::NotEqual(v, zero), V::GreaterEqual(planeT, zero)),
                       V::Less(planeT, V::Set(kNoHitDistance)));
    F t = V::Select(hit, planeT, V::Set(kNoHitDistance));

    // Spheres in order, each accepted only when strictly nearer.
    FMask sphereWins = V::NoLanes();
    F cx = zero, cy = zero, cz = zero;
    for (int i = 0; i < kSphereCount; ++i) {
        const TVec3 rs = scene.sphereOffset[i];
        const float c = scene.sphereC[i];
        const F b =
            V::Add(V::Add(V::Mul(V::Set(rs.x), dx), V::Mul(V::Set(rs.y), dy)), V::Mul(V::Set(rs.z), dz));
        const F d = V::Sub(V::Mul(b, b), V::Set(c));
        const F root = V::Sqrt(d);
        const F nearT = V::Sub(V::Negate(b), root);
        const F farT = V::Sub(root, b);
        const FMask nearOk = V::NotLess(nearT, zero);
        const F sphereT = V::Select(nearOk, nearT, farT);
        FMask accept = V::And(V::And(V::NotLess(d, zero), V::Or(nearOk, V::NotLess(farT, zero))),
                              V::And(V::GreaterEqual(sphereT, zero), V::Less(sphereT, t)));
        if (c > 0.0f) accept = V::AndNot(accept, V::Greater(b, zero));
        t = V::Select(accept, sphereT, t);
        hit = V::Or(hit, accept);
        sphereWins = V::Or(sphereWins, accept);
        const TVec3 centre = scene.spheres[i].center;
        cx = V::Select(accept, V::Set(centre.x), cx);
        cy = V::Select(accept, V::Set(centre.y), cy);
        cz = V::Select(accept, V::Set(centre.z), cz);
    }

    // Hit point eye + d * t, the eye being the origin.
    const F pointX = V::Add(zero, V::Mul(dx, t));
    const F pointY = V::Add(zero, V::Mul(dy, t));
    const F pointZ = V::Add(zero, V::Mul(dz, t));

    // Sphere normal: (point - centre) * (1 / sqrt(its squared length)) when
    // that is positive.
    const F ox = V::Sub(pointX, cx);
    const F oy = V::Sub(pointY, cy);
    const F oz = V::Sub(pointZ, cz);
    const F offset2 = V::Add(V::Add(V::Mul(ox, ox), V::Mul(oy, oy)), V::Mul(oz, oz));
    const FMask scale = V::Greater(offset2, zero);
    const F inverse = V::Div(V::Set(1.0f), V::Sqrt(offset2));
    const F nx = V::Select(scale, V::Mul(ox, inverse), ox);
    const F ny = V::Select(scale, V::Mul(oy, inverse), oy);
    const F nz = V::Select(scale, V::Mul(oz, inverse), oz);

    V::Store(hits.pointX + first, pointX);
    V::Store(hits.pointY + first, pointY);
    V::Store(hits.pointZ + first, pointZ);
    V::Store(hits.normalX + first, V::Select(sphereWins, nx, V::Set(plane.normal.x)));
    V::Store(hits.normalY + first, V::Select(sphereWins, ny, V::Set(plane.normal.y)));
    V::Store(hits.normalZ + first, V::Select(sphereWins, nz, V::Set(plane.normal.z)));
    hits.hitMask |= static_cast<std::uint64_t>(V::Bits(hit)) << first;
}

template <AoVectorOps V>
void TracePrimary(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                  TPrimaryHits& hits) {
    constexpr int kLanes = V::kLanes;
    hits.hitMask = 0;
    const int whole = static_cast<int>(count) / kLanes * kLanes;
    for (int first = 0; first < whole; first += kLanes) TracePrimaryLanes<V>(scene, px, py, first, hits);
    const int left = static_cast<int>(count) - whole;
    if (left == 0) return;

    // The last, partial batch from padded copies; lanes past count are dropped.
    alignas(64) float padX[kLanes] = {};
    alignas(64) float padY[kLanes] = {};
    for (int i = 0; i < left; ++i) {
        padX[i] = px[whole + i];
        padY[i] = py[whole + i];
    }
    TPrimaryHits tail;
    tail.hitMask = 0;
    TracePrimaryLanes<V>(scene, padX, padY, 0, tail);
    hits.hitMask |= (tail.hitMask & ((std::uint64_t{1} << left) - 1)) << whole;
    for (int i = 0; i < left; ++i) {
        hits.pointX[whole + i] = tail.pointX[i];
        hits.pointY[whole + i] = tail.pointY[i];
        hits.pointZ[whole + i] = tail.pointZ[i];
        hits.normalX[whole + i] = tail.normalX[i];
        hits.normalY[whole + i] = tail.normalY[i];
        hits.normalZ[whole + i] = tail.normalZ[i];
    }
}

}  // namespace AoBench::AoVectorKernel
