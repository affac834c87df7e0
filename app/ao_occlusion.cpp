// ao_occlusion.cpp - the per-point set-up of the occlusion rays and the
// dispatch to the active path.

#include "app/ao_occlusion.h"

#include <cmath>
#include <initializer_list>

TOcclusionQuery MakeOcclusionQuery(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                                   TVec3 origin, TVec3 axisX, TVec3 axisY, TVec3 axisZ,
                                   std::uint32_t rayCount) {
  TOcclusionQuery query{};
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
    const TVec3 rs = origin - spheres[i].center;
    query.sphereOffset[i] = rs;
    query.sphereC[i] = Dot(rs, rs) - spheres[i].radius * spheres[i].radius;
  }
  query.sphereRootsNeeded = SphereTestNeedsRoots(query);
  return query;
}

bool SphereTestNeedsRoots(const TOcclusionQuery& query) {
  // Frame axes of at most 2 per component keep every direction component
  // below 6 in magnitude (the sample weights are at most 1).
  for (const TVec3& axis : {query.axisX, query.axisY, query.axisZ}) {
    for (const float v : {axis.x, axis.y, axis.z}) {
      if (!(std::fabs(v) <= 2.0f)) return true;
    }
  }
  for (int i = 0; i < kSphereCount; ++i) {
    // Then |B| < 2^45, B^2 < 2^90 and with |C| <= 2^100 neither D, its root
    // nor a distance can overflow.
    const TVec3 rs = query.sphereOffset[i];
    for (const float v : {rs.x, rs.y, rs.z}) {
      if (!(std::fabs(v) <= 0x1p40f)) return true;
    }
    const float c = query.sphereC[i];
    if (!(std::fabs(c) <= 0x1p100f)) return true;
    // An origin on the surface or just inside it: the far root of a ray
    // leaving the sphere at a tiny positive B depends on B^2 underflowing.
    if (c <= 0.0f && c > -0x1p-100f) return true;
  }
  return false;
}

std::uint32_t CountOccludedRays(TAoPath path, const TOcclusionQuery& query, std::uint64_t& state) {
  switch (path) {
#if defined(KAV_AO_X86_PATHS)
    case TAoPath::Avx512:
      return CountOccludedAvx512(query, state);
    case TAoPath::Avx2:
      return CountOccludedAvx2(query, state);
#endif
    default:
      return CountOccludedScalar(query, state);
  }
}

std::uint32_t CountOccludedRays(const TOcclusionQuery& query, std::uint64_t& state) {
  return CountOccludedRays(ActiveAoPath(), query, state);
}

std::size_t EvaluateCosSin(TAoPath path, const float* angles, std::size_t count, float* cosOut,
                           float* sinOut, double* rawCos, double* rawSin) {
  switch (path) {
#if defined(KAV_AO_X86_PATHS)
    case TAoPath::Avx512:
      return EvaluateCosSinAvx512(angles, count, cosOut, sinOut, rawCos, rawSin);
    case TAoPath::Avx2:
      return EvaluateCosSinAvx2(angles, count, cosOut, sinOut, rawCos, rawSin);
#endif
    default:
      return EvaluateCosSinScalar(angles, count, cosOut, sinOut, rawCos, rawSin);
  }
}
