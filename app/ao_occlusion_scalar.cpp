// ao_occlusion_scalar.cpp - the scalar occlusion path: the AO kernel's own
// sampling loop, one ray at a time. It runs on every CPU and is the reference
// the vector paths are held to.

#include "app/ao_occlusion.h"

#include <cmath>

std::uint32_t CountOccludedScalar(const TOcclusionQuery& query, std::uint64_t& state) {
  std::uint32_t occluded = 0;
  for (std::uint32_t ray = 0; ray < query.rayCount; ++ray) {
    const float r1 = static_cast<float>(static_cast<double>(StepRandom(state)) * 0x1p-32);
    const float phi =
        static_cast<float>(static_cast<double>(StepRandom(state)) * static_cast<double>(kPhiScale));

    const float s = std::sqrt(1.0f - r1);
    const float lx = static_cast<float>(std::cos(static_cast<double>(phi))) * s;
    const float ly = static_cast<float>(std::sin(static_cast<double>(phi))) * s;
    const float lz = std::sqrt(r1);

    const TVec3 dir = (query.axisZ * lz + query.axisY * ly) + query.axisX * lx;
    if (HitsScene(query.plane, query.spheres, query.origin, dir)) ++occluded;
  }
  return occluded;
}

std::size_t EvaluateCosSinScalar(const float* angles, std::size_t count, float* cosOut, float* sinOut,
                                 double* rawCos, double* rawSin) {
  for (std::size_t i = 0; i < count; ++i) {
    const double c = std::cos(static_cast<double>(angles[i]));
    const double s = std::sin(static_cast<double>(angles[i]));
    cosOut[i] = static_cast<float>(c);
    sinOut[i] = static_cast<float>(s);
    if (rawCos != nullptr) rawCos[i] = c;
    if (rawSin != nullptr) rawSin[i] = s;
  }
  return 0;
}
