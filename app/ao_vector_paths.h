// ao_vector_paths.h - the table of the AO kernel's paths: for each, its name,
// what the CPU must have, and its entry points where this build holds it.
//
// The scalar entry points are always there; each vector unit
// (ao_vector_*.cpp, compiled for its own instruction set) supplies one
// table of entry points, which may be called only where AoPathSupported says
// so. A new path is its unit, its row in ao_paths.cpp (with its value of
// TAoPath) and its build lines.

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
    std::size_t (*evaluateCosSin)(const float* angles, std::size_t count, float* cosOut, float* sinOut);
    void (*tracePrimary)(const TPrimaryScene& scene, const float* px, const float* py, std::uint32_t count,
                         TPrimaryHits& hits);
    void (*makeQueries)(const TPlane& plane, const TSphere (&spheres)[kSphereCount],
                        const TShadedPoints& points, std::uint32_t count, std::uint32_t rayCount,
                        TOcclusionQuery* queries);
};

// A row of the table of paths.
struct TAoTarget {
    TAoPath path;
    const char* name;
    int lanes;                      // floats per vector; the widest supported path wins
    TCpuFeatures required;          // all of them
    const TAoPathEntries* entries;  // null where this build does not hold the path
};

// The row of a path; null for a value outside the table.
const TAoTarget* AoTargetOf(TAoPath path);

// The entry points of a path; the scalar kernel's for a path this build does
// not hold or a value outside the table.
const TAoPathEntries& AoPathEntries(TAoPath path);

// The entry points of a path the caller names explicitly; stops the program
// when the CPU cannot run it (see KAV_CONTRACT).
const TAoPathEntries& SupportedAoPathEntries(TAoPath path);

// The table of the active path (ActiveAoPath is its `path`): one load of an
// atomic pointer, set when the path is chosen or forced.
const TAoPathEntries& ActiveAoPathEntries();

// The scalar path's entry points (each vector unit defines its own, which
// only the table names).
extern const TAoPathEntries kScalarPathEntries;

}  // namespace AoBench
