// ao_vector_paths.h - the entry points of the AO kernel's vector paths, one
// set per instruction set: ao_vector_avx2.cpp and ao_vector_avx512.cpp, each
// compiled for its own set.
//
// They exist only where AoPathCompiled says so and may be called only where
// AoPathSupported says so; the dispatching functions of ao_occlusion.h and
// ao_primary_rays.h are the way in for everything else.

#ifndef KAV_APP_AO_VECTOR_PATHS_H
#define KAV_APP_AO_VECTOR_PATHS_H

#include <cstddef>
#include <cstdint>

#include "app/ao_occlusion.h"
#include "app/ao_primary_rays.h"

std::uint32_t CountOccludedAvx2(const TOcclusionQuery& query, std::uint64_t& state);
void RayDirectionsAvx2(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz);
std::size_t EvaluateCosSinAvx2(const float* angles, std::size_t count, float* cosOut, float* sinOut,
                               double* rawCos, double* rawSin);
void TracePrimaryAvx2(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                      TPrimaryHits& hits);

std::uint32_t CountOccludedAvx512(const TOcclusionQuery& query, std::uint64_t& state);
void RayDirectionsAvx512(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz);
std::size_t EvaluateCosSinAvx512(const float* angles, std::size_t count, float* cosOut, float* sinOut,
                                 double* rawCos, double* rawSin);
void TracePrimaryAvx512(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                        TPrimaryHits& hits);

#endif  // KAV_APP_AO_VECTOR_PATHS_H
