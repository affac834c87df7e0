// ao_occlusion_kernel.h - the vector occlusion kernel, written once over an
// operation set V and instantiated by the unit built for each instruction set.
//
// Included only by those units, and all of it is a template over V (whose
// types those units keep in an anonymous namespace), so no function compiled
// with wide instructions can be merged by the linker with one that must run
// on any CPU. For the same reason the code below calls no inline function of
// the shared headers: it reads their structures and constants only.
//
// Lane l of a batch of V::kLanes rays handles ray `done + l`. Its first draw
// (r1) is the generator state after 2 * (done + l) + 1 steps and its second
// (phi) the state after 2 * (done + l) + 2, so the lanes start from the
// shaded point's state by precomputed jumps and all move on by 2 * kLanes
// steps per batch. Each lane then repeats, with the same single-precision
// operations in the same order, what the scalar kernel computes for its ray;
// only the flag of the nearest-hit test is kept, as in the scalar kernel.

#ifndef KAV_APP_AO_OCCLUSION_KERNEL_H
#define KAV_APP_AO_OCCLUSION_KERNEL_H

#include <cstdint>

#include "app/ao_occlusion.h"
#include "app/ao_random_jump.h"
#include "app/ao_scene.h"
#include "app/vector_trig.h"

namespace AoVectorKernel {

// The generator jumps from a shaded point's state to each lane's two draws of
// the first batch, and from one batch to the next.
template <int kLanes>
struct TLaneJumps {
  std::uint64_t firstMultiplier[kLanes];
  std::uint64_t firstIncrement[kLanes];
  std::uint64_t secondMultiplier[kLanes];
  std::uint64_t secondIncrement[kLanes];
  std::uint64_t batchMultiplier;
  std::uint64_t batchIncrement;
};

template <int kLanes>
constexpr TLaneJumps<kLanes> MakeLaneJumps() {
  TLaneJumps<kLanes> jumps{};
  for (int lane = 0; lane < kLanes; ++lane) {
    const TRandomJump first = RandomJump(2 * static_cast<std::uint64_t>(lane) + 1);
    const TRandomJump second = RandomJump(2 * static_cast<std::uint64_t>(lane) + 2);
    jumps.firstMultiplier[lane] = first.multiplier;
    jumps.firstIncrement[lane] = first.increment;
    jumps.secondMultiplier[lane] = second.multiplier;
    jumps.secondIncrement[lane] = second.increment;
  }
  const TRandomJump batch = RandomJump(2 * static_cast<std::uint64_t>(kLanes));
  jumps.batchMultiplier = batch.multiplier;
  jumps.batchIncrement = batch.increment;
  return jumps;
}

// Hit flags of the plane test for directions (dx, dy, dz): the plane accepts
// when dot(normal, d) is not 0 and 0 <= t < the record's start distance.
template <class V>
typename V::FMask PlaneHits(const TOcclusionQuery& query, typename V::F dx, typename V::F dy,
                            typename V::F dz) {
  using F = typename V::F;
  const F zero = V::Set(0.0f);
  const F v = V::Add(V::Add(V::Mul(V::Set(query.plane.normal.x), dx), V::Mul(V::Set(query.plane.normal.y), dy)),
                     V::Mul(V::Set(query.plane.normal.z), dz));
  const F t = V::Mul(V::Set(query.planeDistance), V::Div(V::Set(-1.0f), v));
  return V::And(V::And(V::NotEqual(v, zero), V::GreaterEqual(t, zero)), V::Less(t, V::Set(kNoHitDistance)));
}

// Hit flags of sphere i: skipped when the origin is outside and the sphere
// behind (C > 0 and B > 0) or when the discriminant D = B^2 - C is negative;
// otherwise t is the near root -B - sqrt(D), or the far root sqrt(D) - B
// when the near one is negative, and must be >= 0 and below the record's
// start distance.
//
// Without kRoots the roots are not computed: for the queries that
// SphereTestNeedsRoots lets through, a sphere that passes the two skips is
// always hit. With B <= 0 the near root is >= 0 whenever sqrt(D) <= -B, and
// otherwise the far root sqrt(D) + |B| is positive. With B > 0 the origin is
// inside (C <= 0, in fact C <= -2^-100): the near root is negative and the
// far root is >= 0 exactly when sqrt(D) >= B. D = B^2 - C >= B^2 rounded;
// when B^2 does not underflow, the rounded square root of the rounded B^2 is
// B itself (a property of binary floating point with rounding to nearest),
// and when it does, B < 2^-63 while D >= -C >= 2^-100 gives sqrt(D) >= 2^-50.
// The size limits rule out overflow, so every accepted t is finite.
template <class V, bool kRoots>
typename V::FMask SphereHits(const TOcclusionQuery& query, int i, typename V::F dx, typename V::F dy,
                             typename V::F dz) {
  using F = typename V::F;
  using FMask = typename V::FMask;
  const F zero = V::Set(0.0f);
  const TVec3 rs = query.sphereOffset[i];
  const float c = query.sphereC[i];
  const F b = V::Add(V::Add(V::Mul(V::Set(rs.x), dx), V::Mul(V::Set(rs.y), dy)), V::Mul(V::Set(rs.z), dz));
  const F d = V::Sub(V::Mul(b, b), V::Set(c));
  FMask hit = V::NotLess(d, zero);
  if constexpr (kRoots) {
    const F root = V::Sqrt(d);
    const F nearT = V::Sub(V::Negate(b), root);
    const F farT = V::Sub(root, b);
    const FMask nearOk = V::NotLess(nearT, zero);
    const F t = V::Select(nearOk, nearT, farT);
    hit = V::And(V::And(hit, V::Or(nearOk, V::NotLess(farT, zero))), V::Less(t, V::Set(kNoHitDistance)));
  }
  if (c > 0.0f) hit = V::AndNot(hit, V::Greater(b, zero));
  return hit;
}

// The number of the query's rays that hit the scene; moves state on by two
// steps per ray.
template <class V, bool kRoots>
std::uint32_t CountBatches(const TOcclusionQuery& query, std::uint64_t& state) {
  using F = typename V::F;
  using D = typename V::D;
  using Q = typename V::Q;
  constexpr int kLanes = V::kLanes;
  constexpr int kHalf = kLanes / 2;
  static constexpr TLaneJumps<kLanes> kJumps = MakeLaneJumps<kLanes>();

  const std::uint32_t rays = query.rayCount;
  if (rays == 0) return 0;

  // Lanes 0 .. kHalf-1 in [0], the rest in [1].
  const Q start = V::Set64(state);
  Q first[2];
  Q second[2];
  for (int h = 0; h < 2; ++h) {
    first[h] = V::Add64(V::Mul64(start, V::Load64(kJumps.firstMultiplier + h * kHalf)),
                        V::Load64(kJumps.firstIncrement + h * kHalf));
    second[h] = V::Add64(V::Mul64(start, V::Load64(kJumps.secondMultiplier + h * kHalf)),
                         V::Load64(kJumps.secondIncrement + h * kHalf));
  }
  const Q batchMultiplier = V::Set64(kJumps.batchMultiplier);
  const Q batchIncrement = V::Set64(kJumps.batchIncrement);

  const F xx = V::Set(query.axisX.x), xy = V::Set(query.axisX.y), xz = V::Set(query.axisX.z);
  const F yx = V::Set(query.axisY.x), yy = V::Set(query.axisY.y), yz = V::Set(query.axisY.z);
  const F zx = V::Set(query.axisZ.x), zy = V::Set(query.axisZ.y), zz = V::Set(query.axisZ.z);
  const D phiScale = V::Set(static_cast<double>(kPhiScale));

  std::uint32_t occluded = 0;
  for (std::uint32_t done = 0;; done += kLanes) {
    // r1 = u1 * 2^-32 and phi = u2 * K, each as if formed in double and
    // rounded once to single. phi lies in [0, 2 pi (1 + 2^-24)], well
    // inside the reduction's domain.
    const F r1 = V::DrawsToUnitFloat(first[0], first[1]);
    const D phiLow = V::RoundToFloat(V::Mul(V::DrawToDouble(second[0]), phiScale));
    const D phiHigh = V::RoundToFloat(V::Mul(V::DrawToDouble(second[1]), phiScale));
    D cosLow, sinLow, cosHigh, sinHigh;
    AoVectorTrig::CosSin<V, false>(phiLow, cosLow, sinLow);
    AoVectorTrig::CosSin<V, false>(phiHigh, cosHigh, sinHigh);

    const F s = V::Sqrt(V::Sub(V::Set(1.0f), r1));
    const F lx = V::Mul(V::ToFloat(cosLow, cosHigh), s);
    const F ly = V::Mul(V::ToFloat(sinLow, sinHigh), s);
    const F lz = V::Sqrt(r1);

    const F dx = V::Add(V::Add(V::Mul(zx, lz), V::Mul(yx, ly)), V::Mul(xx, lx));
    const F dy = V::Add(V::Add(V::Mul(zy, lz), V::Mul(yy, ly)), V::Mul(xy, lx));
    const F dz = V::Add(V::Add(V::Mul(zz, lz), V::Mul(yz, ly)), V::Mul(xz, lx));

    typename V::FMask hit = PlaneHits<V>(query, dx, dy, dz);
    for (int i = 0; i < kSphereCount; ++i) hit = V::Or(hit, SphereHits<V, kRoots>(query, i, dx, dy, dz));
    std::uint32_t bits = V::Bits(hit);

    const std::uint32_t left = rays - done;
    if (left <= static_cast<std::uint32_t>(kLanes)) {
      if (left < static_cast<std::uint32_t>(kLanes)) bits &= (std::uint32_t{1} << left) - 1;
      occluded += static_cast<std::uint32_t>(__builtin_popcount(bits));
      // The last ray's second draw left the generator where the scalar
      // kernel leaves it.
      alignas(64) std::uint64_t seconds[kLanes];
      V::Store64(seconds, second[0]);
      V::Store64(seconds + kHalf, second[1]);
      state = seconds[left - 1];
      return occluded;
    }
    occluded += static_cast<std::uint32_t>(__builtin_popcount(bits));

    for (int h = 0; h < 2; ++h) {
      first[h] = V::Add64(V::Mul64(first[h], batchMultiplier), batchIncrement);
      second[h] = V::Add64(V::Mul64(second[h], batchMultiplier), batchIncrement);
    }
  }
}

template <class V>
std::uint32_t CountOccluded(const TOcclusionQuery& query, std::uint64_t& state) {
  return query.sphereRootsNeeded ? CountBatches<V, true>(query, state)
                                 : CountBatches<V, false>(query, state);
}

// Cosine and sine rounded to single for an array of angles, as the kernel
// evaluates them; see EvaluateCosSin.
template <class V>
std::size_t EvaluateCosSin(const float* angles, std::size_t count, float* cosOut, float* sinOut,
                           double* rawCos, double* rawSin) {
  using D = typename V::D;
  constexpr std::size_t kHalf = V::kLanes / 2;
  std::size_t taken = 0;
  for (std::size_t i = 0; i < count; i += kHalf) {
    const std::size_t n = count - i < kHalf ? count - i : kHalf;
    alignas(64) float in[kHalf] = {};
    for (std::size_t j = 0; j < n; ++j) in[j] = angles[i + j];
    const D x = V::WidenFloats(in);

    D c, s;
    const typename V::DMask fallback = AoVectorTrig::CosSinApprox<V, true>(x, c, s);
    alignas(64) double approxCos[kHalf];
    alignas(64) double approxSin[kHalf];
    V::Store(approxCos, c);
    V::Store(approxSin, s);
    alignas(64) std::uint64_t take[kHalf];
    V::StoreMask(take, fallback);
    for (std::size_t j = 0; j < n; ++j) {
      if (take[j] != 0) ++taken;
      if (rawCos != nullptr) rawCos[i + j] = approxCos[j];
      if (rawSin != nullptr) rawSin[i + j] = approxSin[j];
    }

    AoVectorTrig::CosSin<V, true>(x, c, s);
    alignas(64) float cosF[kHalf];
    alignas(64) float sinF[kHalf];
    V::NarrowToFloats(cosF, c);
    V::NarrowToFloats(sinF, s);
    for (std::size_t j = 0; j < n; ++j) {
      cosOut[i + j] = cosF[j];
      sinOut[i + j] = sinF[j];
    }
  }
  return taken;
}

}  // namespace AoVectorKernel

#endif  // KAV_APP_AO_OCCLUSION_KERNEL_H
