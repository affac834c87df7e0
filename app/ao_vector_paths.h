// ao_vector_paths.h - the table of the AO kernel's entry points, one table
// per path: the scalar kernel's, and one from each vector unit
// (ao_vector_avx2.cpp, ao_vector_avx512.cpp, ao_vector_neon.cpp), each
// compiled for its own instruction set.
//
// A vector unit's table exists only where AoPathCompiled says so, and its
// functions may be called only where AoPathSupported says so. AoPathEntries
// hands out the table of a path; the dispatching functions of ao_occlusion.h
// and ao_primary_rays.h read the active one.

#pragma once

#include <cstddef>
#include <cstdint>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_primary_rays.h"

namespace AoBench {

struct TAoPathEntries {
    TAoPath path;  // the path whose entry points these are
    std::uint32_t (*countOccluded)(const TOcclusionQuery& query, std::uint64_t& state);
    void (*rayDirections)(const TOcclusionQuery& query, std::uint64_t state, float* dx, float* dy, float* dz);
    std::size_t (*evaluateCosSin)(const float* angles, std::size_t count, float* cosOut, float* sinOut,
                                  double* rawCos, double* rawSin);
    void (*tracePrimary)(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                         TPrimaryHits& hits);
};

// The table of a path; the scalar kernel's for a path this build does not
// hold or a value outside the enumeration.
const TAoPathEntries& AoPathEntries(TAoPath path);

// The table of the active path (ActiveAoPath is its `path`): one load of an
// atomic pointer, set when the path is chosen or forced.
const TAoPathEntries& ActiveAoPathEntries();

extern const TAoPathEntries kScalarPathEntries;
#if defined(KAV_AO_X86_PATHS)
extern const TAoPathEntries kAvx2PathEntries;
extern const TAoPathEntries kAvx512PathEntries;
#endif
#if defined(KAV_AO_NEON_PATH)
extern const TAoPathEntries kNeonPathEntries;
#endif

}  // namespace AoBench
