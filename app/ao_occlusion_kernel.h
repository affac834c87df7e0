// ao_occlusion_kernel.h - the vector occlusion kernel, written once over an
// operation set V and instantiated by the unit built for each instruction set.
//
// Included only by those units, and all of it is a template over V (whose
// types those units keep in an anonymous namespace), so no function compiled
// with wide instructions can be merged by the linker with one that must run
// on any CPU. For the same reason the code below calls no inline function of
// the shared headers: it reads their structures and constants only.
//
// The rays go in steps of V::kBatchesPerStep batches of V::kLanes rays; lane
// l of batch g of the step that starts at ray `done` handles ray
// n = done + g * kLanes + l. Its first draw (r1) is the generator state after
// 2n + 1 steps and its second (phi) the state after 2n + 2, so the lanes start
// from the shaded point's state by precomputed jumps and all move on by the
// same jump per step. Each lane then repeats, with the same single-precision
// operations in the same order, what the scalar kernel computes for its ray;
// only the flag of the nearest-hit test is kept, as in the scalar kernel.
//
// The batches of a step go through each stage side by side (V says how many
// at once): their chains of dependent operations are independent, and
// placing them next to each other lets the CPU overlap them.

#pragma once

#include <cstdint>

#include "app/ao_occlusion.h"
#include "app/ao_random_jump.h"
#include "app/ao_scene.h"
#include "app/ao_vector_ops.h"
#include "app/vector_trig.h"

namespace AoBench::AoVectorKernel {

// The generator jumps from a shaded point's state to each lane's two draws in
// the first step of kBatches batches, and from one step to the next; the
// multipliers in the form V multiplies by (V::JumpOperand).
//
// A draw is bits 16..47 of a state, and the low 48 bits of a product or sum
// depend on the low 48 bits of its terms alone. So the lanes' states need to
// be right in bits 0..47 only, and V::MulLow48 leaves the bits above
// unspecified where that saves operations; the shaded point's own state is
// jumped in full, by scalar code.
template <int kLanes, int kBatches>
struct TLaneJumps {
    std::uint64_t firstMultiplier[kLanes * kBatches];
    std::uint64_t firstIncrement[kLanes * kBatches];
    std::uint64_t secondMultiplier[kLanes * kBatches];
    std::uint64_t secondIncrement[kLanes * kBatches];
    std::uint64_t stepMultiplier;
    std::uint64_t stepIncrement;
};

template <class V, int kLanes, int kBatches>
constexpr TLaneJumps<kLanes, kBatches> MakeLaneJumps() {
    TLaneJumps<kLanes, kBatches> jumps{};
    for (int lane = 0; lane < kLanes * kBatches; ++lane) {
        const TRandomJump first = RandomJump(2 * static_cast<std::uint64_t>(lane) + 1);
        const TRandomJump second = RandomJump(2 * static_cast<std::uint64_t>(lane) + 2);
        jumps.firstMultiplier[lane] = V::JumpOperand(first.multiplier);
        jumps.firstIncrement[lane] = first.increment;
        jumps.secondMultiplier[lane] = V::JumpOperand(second.multiplier);
        jumps.secondIncrement[lane] = second.increment;
    }
    const TRandomJump step = RandomJump(2 * static_cast<std::uint64_t>(kLanes * kBatches));
    jumps.stepMultiplier = V::JumpOperand(step.multiplier);
    jumps.stepIncrement = step.increment;
    return jumps;
}

// The generator state after `steps` steps from state, by repeated squaring
// of the step (a template over V for the reason given at the top).
template <class V>
std::uint64_t JumpState(std::uint64_t state, std::uint64_t steps) {
    std::uint64_t multiplier = kRandomMultiplier;  // of 2^i steps
    std::uint64_t increment = kRandomIncrement;
    for (; steps != 0; steps >>= 1) {
        if ((steps & 1) != 0) state = multiplier * state + increment;
        increment = multiplier * increment + increment;
        multiplier *= multiplier;
    }
    return state;
}

// The jump over the draws of a shaded point's rays in the render: 8 x 8
// rays, two draws each.
inline constexpr std::uint32_t kRenderRays = 64;
inline constexpr TRandomJump kRenderRaysJump = RandomJump(2 * kRenderRays);

// The cosines and sines of the angles of V::kBatchesTogether batches (a
// group), rounded to single: phi holds their angles as halves (batch g's
// lanes in [2g] and [2g + 1], low lanes first), cosF and sinF receive them
// per batch. This is the only evaluation of the render's cosines and sines,
// and the exhaustive checks call it too (EvaluateCosSin). Returns whether the
// group's results came from the library (CosSinFromLibrary), which happens
// when any of them lies within the guard band of a rounding midpoint; either
// way every result is the library's after rounding.
//
// kTrigTogether vectors go through the evaluation at a time: enough
// independent chains to keep the units busy, few enough to stay in
// registers. With V::kQuadrantInSingle, the quadrant is applied after the
// rounding to single, to twice the lanes per operation
// (ApplyQuadrantInSingle).
template <class V>
[[gnu::always_inline]] inline bool GroupCosSin(const typename V::D* phi, typename V::F* cosF,
                                               typename V::F* sinF) {
    using D = typename V::D;
    using Q = typename V::Q;
    constexpr int kBatches = V::kBatchesTogether;
    constexpr int kHalves = 2 * kBatches;
    constexpr int kTrig = V::kTrigTogether;
    static_assert(kHalves % kTrig == 0, "whole groups of angle vectors");
    D cosR[kHalves];
    D sinR[kHalves];
    Q quadrant[kHalves];
    auto nearMidpoint = AoVectorTrig::NoMidpointLanes<V>();
    // Kept a loop: unrolled, the groups run slower (measured on AVX2).
#pragma GCC unroll 1
    for (int h = 0; h < kHalves; h += kTrig) {
        AoVectorTrig::CosSinReduced<V, kTrig>(phi + h, cosR + h, sinR + h, quadrant + h);
        for (int i = h; i < h + kTrig; ++i)
            nearMidpoint = V::Or(nearMidpoint, AoVectorTrig::NearFloatMidpointEither<V>(sinR[i], cosR[i]));
    }
    if (V::Any(nearMidpoint)) [[unlikely]] {
        for (int h = 0; h < kHalves; ++h) AoVectorTrig::CosSinFromLibrary<V>(phi[h], cosR[h], sinR[h]);
        for (int g = 0; g < kBatches; ++g) {
            cosF[g] = V::ToFloat(cosR[2 * g], cosR[2 * g + 1]);
            sinF[g] = V::ToFloat(sinR[2 * g], sinR[2 * g + 1]);
        }
        return true;
    }
    for (int g = 0; g < kBatches; ++g) {
        if constexpr (V::kQuadrantInSingle) {
            cosF[g] = V::ToFloat(cosR[2 * g], cosR[2 * g + 1]);
            sinF[g] = V::ToFloat(sinR[2 * g], sinR[2 * g + 1]);
            AoVectorTrig::ApplyQuadrantInSingle<V>(quadrant[2 * g], quadrant[2 * g + 1], cosF[g], sinF[g]);
        } else {
            for (int h = 2 * g; h < 2 * g + 2; ++h)
                AoVectorTrig::ApplyQuadrantInDouble<V>(quadrant[h], cosR[h], sinR[h]);
            cosF[g] = V::ToFloat(cosR[2 * g], cosR[2 * g + 1]);
            sinF[g] = V::ToFloat(sinR[2 * g], sinR[2 * g + 1]);
        }
    }
    return false;
}

// Hit flags of the plane test for directions (dx, dy, dz): the plane accepts
// when dot(normal, d) is not 0 and 0 <= t < the record's start distance.
template <class V>
typename V::FMask PlaneHits(const TOcclusionQuery& query, typename V::F dx, typename V::F dy,
                            typename V::F dz) {
    using F = typename V::F;
    const F zero = V::Set(0.0f);
    const F v =
        V::Add(V::Add(V::Mul(V::Set(query.plane.normal.x), dx), V::Mul(V::Set(query.plane.normal.y), dy)),
               V::Mul(V::Set(query.plane.normal.z), dz));
    const F t = V::Mul(V::Set(query.planeDistance), V::Div(V::Set(-1.0f), v));
    return V::And(V::And(V::NotEqual(v, zero), V::GreaterEqual(t, zero)), V::Less(t, V::Set(kNoHitDistance)));
}

// B of sphere i, (rs.x * dx + rs.y * dy) + rs.z * dz for its offset rs,
// with the sign of rs.x given (see CountBatches).
template <class V>
typename V::F SphereB(const TOcclusionQuery& query, int i, float rsx, typename V::F dx, typename V::F dy,
                      typename V::F dz) {
    const TVec3 rs = query.sphereOffset[i];
    return V::Add(V::Add(V::Mul(V::Set(rsx), dx), V::Mul(V::Set(rs.y), dy)), V::Mul(V::Set(rs.z), dz));
}

// Hit flags of sphere i with the roots: skipped when the origin is outside
// and the sphere behind (C > 0 and B > 0) or when the discriminant
// D = B^2 - C is negative; otherwise t is the near root -B - sqrt(D), or the
// far root sqrt(D) - B when the near one is negative, and must be >= 0 and
// below the record's start distance.
template <class V>
typename V::FMask SphereHitsWithRoots(const TOcclusionQuery& query, int i, typename V::F b) {
    using F = typename V::F;
    using FMask = typename V::FMask;
    const F zero = V::Set(0.0f);
    const float c = query.sphereC[i];
    const F d = V::Sub(V::Mul(b, b), V::Set(c));
    const F root = V::Sqrt(d);
    const F nearT = V::Sub(V::Negate(b), root);
    const F farT = V::Sub(root, b);
    const FMask nearOk = V::NotLess(nearT, zero);
    const F t = V::Select(nearOk, nearT, farT);
    FMask hit = V::And(V::And(V::NotLess(d, zero), V::Or(nearOk, V::NotLess(farT, zero))),
                       V::Less(t, V::Set(kNoHitDistance)));
    if (c > 0.0f) hit = V::AndNot(hit, V::Greater(b, zero));
    return hit;
}

// Flags of the rays that sphere i leaves open, for the queries that need no
// roots: B > sphereReach[i] (see SphereReach). For those queries a sphere
// that passes the two skips above is always hit. With B <= 0 the near root
// is >= 0 whenever sqrt(D) <= -B, and otherwise the far root sqrt(D) + |B|
// is positive. With B > 0 the origin is inside (C <= -2^-100): the near root
// is negative and the far root is >= 0 exactly when sqrt(D) >= B.
// D = B^2 - C >= B^2 rounded; when B^2 does not underflow, the rounded
// square root of the rounded B^2 is B itself (a property of binary floating
// point with rounding to nearest), and when it does, B < 2^-63 while
// D >= -C >= 2^-100 gives sqrt(D) >= 2^-50. The size limits rule out
// overflow, so every accepted t is finite.
template <class V>
typename V::FMask SphereLeavesOpen(const TOcclusionQuery& query, int i, typename V::F b) {
    return V::Greater(b, V::Set(query.sphereReach[i]));
}

// Where the directions of the rays go when they are wanted (RayDirections).
struct TDirectionsOut {
    float* dx;
    float* dy;
    float* dz;
};

// Stores the lanes of rays first .. first + kLanes - 1 that are below count.
template <class V>
void StoreDirections(TDirectionsOut out, std::uint32_t first, std::uint32_t count, typename V::F dx,
                     typename V::F dy, typename V::F dz) {
    alignas(64) float x[V::kLanes];
    alignas(64) float y[V::kLanes];
    alignas(64) float z[V::kLanes];
    V::Store(x, dx);
    V::Store(y, dy);
    V::Store(z, dz);
    for (std::uint32_t lane = 0; lane < static_cast<std::uint32_t>(V::kLanes) && first + lane < count;
         ++lane) {
        out.dx[first + lane] = x[lane];
        out.dy[first + lane] = y[lane];
        out.dz[first + lane] = z[lane];
    }
}

// The number of the query's rays that hit the scene; moves state on by two
// steps per ray. With kDirections the rays' directions are stored too.
template <class V, bool kRoots, bool kGround, bool kDirections = false>
std::uint32_t CountBatches(const TOcclusionQuery& query, std::uint64_t& state, TDirectionsOut out = {}) {
    using F = typename V::F;
    using D = typename V::D;
    using Q = typename V::Q;
    constexpr int kLanes = V::kLanes;
    constexpr int kHalf = kLanes / 2;
    constexpr int kBatches = V::kBatchesPerStep;
    constexpr int kHalves = 2 * kBatches;
    static constexpr TLaneJumps<kLanes, kBatches> kJumps = MakeLaneJumps<V, kLanes, kBatches>();

    const std::uint32_t rays = query.rayCount;
    if (rays == 0) return 0;

    // Where the last ray's second draw leaves the generator, as the scalar
    // kernel leaves it. Formed first, from the starting state alone, so that
    // the next shaded point's rays need not wait for this one's.
    const std::uint64_t startState = state;
    state = rays == kRenderRays ? kRenderRaysJump.multiplier * startState + kRenderRaysJump.increment
                                : JumpState<V>(startState, 2 * static_cast<std::uint64_t>(rays));

    // Batch g's lanes 0 .. kHalf-1 in [2g], the rest in [2g + 1].
    const Q start = V::Set64(startState);
    Q first[kHalves];
    Q second[kHalves];
    for (int h = 0; h < kHalves; ++h) {
        first[h] = V::Add64(V::MulLow48(start, V::Load64(kJumps.firstMultiplier + h * kHalf)),
                            V::Load64(kJumps.firstIncrement + h * kHalf));
        second[h] = V::Add64(V::MulLow48(start, V::Load64(kJumps.secondMultiplier + h * kHalf)),
                             V::Load64(kJumps.secondIncrement + h * kHalf));
    }
    const Q stepMultiplier = V::Set64(kJumps.stepMultiplier);
    const Q stepIncrement = V::Set64(kJumps.stepIncrement);

    const F xx = V::Set(query.axisX.x), xy = V::Set(query.axisX.y), xz = V::Set(query.axisX.z);
    const F yx = V::Set(query.axisY.x), yy = V::Set(query.axisY.y), yz = V::Set(query.axisY.z);
    const F zx = V::Set(query.axisZ.x), zy = V::Set(query.axisZ.y), zz = V::Set(query.axisZ.z);
    constexpr double kPhiScaleDouble = static_cast<double>(kPhiScale);

    std::uint32_t occluded = 0;
    for (std::uint32_t done = 0;; done += kBatches * kLanes) {
        // r1 = u1 * 2^-32 and phi = u2 * K, each as if formed in double and
        // rounded once to single. phi lies in [0, 2 pi (1 + 2^-24)], well
        // inside the reduction's domain.
        D phi[kHalves];
        for (int h = 0; h < kHalves; ++h) phi[h] = V::RoundToFloat(V::DrawTimes(second[h], kPhiScaleDouble));
        // The weights that do not depend on the angle first, so that their
        // square roots overlap the cosine and sine.
        F sWeight[kBatches];
        F lzWeight[kBatches];
        for (int g = 0; g < kBatches; ++g) {
            const F r1 = V::DrawsToUnitFloat(first[2 * g], first[2 * g + 1]);
            sWeight[g] = V::Sqrt(V::Sub(V::Set(1.0f), r1));
            lzWeight[g] = V::Sqrt(r1);
        }

        // Per group of kTogether batches: the cosines and sines, the
        // directions, then the hit flags. The groups' chains are independent,
        // so one group's geometry overlaps the next one's angles.
        // Per batch, the rays that hit (with the roots) or that every sphere
        // leaves open (without them).
        typename V::FMask lanes[kBatches];
        constexpr int kTogether = V::kBatchesTogether;
        for (int group = 0; group < kBatches; group += kTogether) {
            F cosPhi[kTogether];
            F sinPhi[kTogether];
            GroupCosSin<V>(phi + 2 * group, cosPhi, sinPhi);
            F dx[kTogether], dy[kTogether], dz[kTogether];
            for (int j = 0; j < kTogether; ++j) {
                const int g = group + j;
                const F lx = V::Mul(cosPhi[j], sWeight[g]);
                const F ly = V::Mul(sinPhi[j], sWeight[g]);
                const F lz = lzWeight[g];
                if constexpr (kGround) {
                    // (lx, lz, ly), with the minus sign of the x component moved
                    // onto the spheres' offsets. B then differs from the scalar
                    // kernel's, if at all, in the sign of a zero: rs.x * (0 - lx)
                    // is -(rs.x * lx) and rs.z * (ly + 0) is rs.z * ly but for
                    // the signs of zeros, and sums of terms that differ in that
                    // way do too. No test of B tells the two zeros apart.
                    dx[j] = lx;
                    dy[j] = lz;
                    dz[j] = ly;
                    if constexpr (kDirections) {
                        // The scalar kernel's own directions for the ground frame,
                        // bit for bit (see GroundFrameQuery).
                        StoreDirections<V>(out, done + static_cast<std::uint32_t>(g * kLanes), rays,
                                           V::Sub(V::Set(0.0f), lx), lz, V::Add(ly, V::Set(0.0f)));
                    }
                } else {
                    dx[j] = V::Add(V::Add(V::Mul(zx, lz), V::Mul(yx, ly)), V::Mul(xx, lx));
                    dy[j] = V::Add(V::Add(V::Mul(zy, lz), V::Mul(yy, ly)), V::Mul(xy, lx));
                    dz[j] = V::Add(V::Add(V::Mul(zz, lz), V::Mul(yz, ly)), V::Mul(xz, lx));
                    if constexpr (kDirections) {
                        StoreDirections<V>(out, done + static_cast<std::uint32_t>(g * kLanes), rays, dx[j],
                                           dy[j], dz[j]);
                    }
                }
            }
            constexpr bool kGroundSign = kGround;
            if constexpr (kRoots) {
                typename V::FMask hit[kTogether];
                for (int j = 0; j < kTogether; ++j) {
                    // The plane blocks no ray of a ground-frame query.
                    hit[j] = kGround ? V::NoLanes() : PlaneHits<V>(query, dx[j], dy[j], dz[j]);
                }
                for (int i = 0; i < kSphereCount; ++i) {
                    const float rsx = kGroundSign ? -query.sphereOffset[i].x : query.sphereOffset[i].x;
                    for (int j = 0; j < kTogether; ++j) {
                        const F b = SphereB<V>(query, i, rsx, dx[j], dy[j], dz[j]);
                        hit[j] = V::Or(hit[j], SphereHitsWithRoots<V>(query, i, b));
                    }
                }
                for (int j = 0; j < kTogether; ++j) lanes[group + j] = hit[j];
            } else {
                typename V::FMask open[kTogether];
                for (int i = 0; i < kSphereCount; ++i) {
                    const float rsx = kGroundSign ? -query.sphereOffset[i].x : query.sphereOffset[i].x;
                    for (int j = 0; j < kTogether; ++j) {
                        const F b = SphereB<V>(query, i, rsx, dx[j], dy[j], dz[j]);
                        const typename V::FMask leaves = SphereLeavesOpen<V>(query, i, b);
                        open[j] = i == 0 ? leaves : V::And(open[j], leaves);
                    }
                }
                if constexpr (!kGround) {
                    for (int j = 0; j < kTogether; ++j)
                        open[j] = V::AndNot(open[j], PlaneHits<V>(query, dx[j], dy[j], dz[j]));
                }
                for (int j = 0; j < kTogether; ++j) lanes[group + j] = open[j];
            }
        }

        const std::uint32_t left = rays - done;
        if (left < static_cast<std::uint32_t>(kBatches * kLanes)) {
            // The last step, partial: only the lanes of rays below the count.
            constexpr std::uint32_t kAllLanes = (std::uint32_t{1} << kLanes) - 1;
            for (int g = 0; g < kBatches; ++g) {
                const std::uint32_t from = static_cast<std::uint32_t>(g * kLanes);
                if (left <= from) break;
                std::uint32_t valid = kRoots ? V::Bits(lanes[g]) : ~V::Bits(lanes[g]) & kAllLanes;
                if (left - from < static_cast<std::uint32_t>(kLanes)) {
                    valid &= (std::uint32_t{1} << (left - from)) - 1;
                }
                occluded += static_cast<std::uint32_t>(__builtin_popcount(valid));
            }
            return occluded;
        }
        for (int g = 0; g < kBatches; ++g) {
            const std::uint32_t counted = V::CountLanes(lanes[g]);
            occluded += kRoots ? counted : static_cast<std::uint32_t>(kLanes) - counted;
        }
        if (left == static_cast<std::uint32_t>(kBatches * kLanes)) return occluded;

        for (int h = 0; h < kHalves; ++h) {
            first[h] = V::Add64(V::MulLow48(first[h], stepMultiplier), stepIncrement);
            second[h] = V::Add64(V::MulLow48(second[h], stepMultiplier), stepIncrement);
        }
    }
}

// The number of the query's rays that hit the scene (see CountOccludedRays);
// with directions, their directions too (see RayDirections), by the same
// code with the same switches.
template <AoVectorOps V, bool kDirections = false>
std::uint32_t CountOccluded(const TOcclusionQuery& query, std::uint64_t& state, TDirectionsOut out = {}) {
    if (query.groundFrame) {
        return query.sphereRootsNeeded ? CountBatches<V, true, true, kDirections>(query, state, out)
                                       : CountBatches<V, false, true, kDirections>(query, state, out);
    }
    return query.sphereRootsNeeded ? CountBatches<V, true, false, kDirections>(query, state, out)
                                   : CountBatches<V, false, false, kDirections>(query, state, out);
}

template <AoVectorOps V>
void RayDirections(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz) {
    CountOccluded<V, true>(query, state, {dx, dy, dz});
}

// Cosine and sine rounded to single for an array of angles within the
// kernel's range, by the render's own evaluation (GroupCosSin), a group's
// worth of angles at a time; see EvaluateCosSin. Returns the number of
// groups whose results came from the library.
template <AoVectorOps V>
std::size_t EvaluateCosSin(const float* angles, std::size_t count, float* cosOut, float* sinOut) {
    using D = typename V::D;
    using F = typename V::F;
    constexpr int kBatches = V::kBatchesTogether;
    constexpr std::size_t kHalf = V::kLanes / 2;
    constexpr std::size_t kGroup = kBatches * V::kLanes;
    std::size_t fromLibrary = 0;
    for (std::size_t i = 0; i < count; i += kGroup) {
        const std::size_t n = count - i < kGroup ? count - i : kGroup;
        alignas(64) float in[kGroup] = {};  // the unused lanes evaluate angle 0
        for (std::size_t j = 0; j < n; ++j) in[j] = angles[i + j];
        D phi[2 * kBatches];
        for (int h = 0; h < 2 * kBatches; ++h) phi[h] = V::WidenFloats(in + h * kHalf);
        F cosF[kBatches];
        F sinF[kBatches];
        if (GroupCosSin<V>(phi, cosF, sinF)) ++fromLibrary;
        alignas(64) float cosAll[kGroup];
        alignas(64) float sinAll[kGroup];
        for (int g = 0; g < kBatches; ++g) {
            V::Store(cosAll + g * V::kLanes, cosF[g]);
            V::Store(sinAll + g * V::kLanes, sinF[g]);
        }
        for (std::size_t j = 0; j < n; ++j) {
            cosOut[i + j] = cosAll[j];
            sinOut[i + j] = sinAll[j];
        }
    }
    return fromLibrary;
}

}  // namespace AoBench::AoVectorKernel
