// ao_vector_entries.h - the entry points of a vector unit: the kernels
// written once over the unit's operation set V, gathered into the unit's row
// of the table of paths.
//
// Included only by the vector units, after their operation set. V is a type
// of the unit's anonymous namespace, so every function instantiated here is
// the unit's own: none can be merged by the linker with code built for
// another instruction set.

#pragma once

#include <cstdint>

#include "app/ao_occlusion_kernel.h"
#include "app/ao_primary_kernel.h"
#include "app/ao_query_kernel.h"
#include "app/ao_vector_paths.h"

namespace AoBench::AoVectorKernel {

template <AoVectorOps V>
std::uint32_t CountOccludedEntry(const TOcclusionQuery& query, std::uint64_t& state) {
    return CountOccluded<V>(query, state);
}

template <AoVectorOps V>
constexpr TAoPathEntries PathEntries(TAoPath path) {
    return {path,          CountOccludedEntry<V>, RayDirections<V>, EvaluateCosSin<V>, TracePrimary<V>,
            MakeQueries<V>};
}

}  // namespace AoBench::AoVectorKernel
