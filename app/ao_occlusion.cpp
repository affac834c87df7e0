// ao_occlusion.cpp - the per-point set-up of the occlusion rays and the
// dispatch to the active path.

#include "app/ao_occlusion.h"

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
  return query;
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
