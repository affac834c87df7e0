// ao_paths.h - the code paths of the AO kernel's ray work, which of them
// this build holds, which the running CPU can execute, and the one in use.
//
// Every path computes bit for bit what the scalar kernel computes, so the
// choice changes only the speed. The paths are the rows of one table (see
// ao_vector_paths.h); everything here reads it. The widest path the CPU
// supports is chosen on first use; tests and benchmarks may force another.

#pragma once

#include <cstdint>
#include <span>

namespace AoBench {

// A row of the table of paths; Scalar is row 0.
enum class TAoPath : int {
    Scalar = 0,
    Avx2 = 1,
    Avx512 = 2,
    Neon = 3,
    Simd128 = 4,
};

// The instruction-set extensions a path may need, as bits of TCpuFeatures.
enum TCpuFeature : std::uint32_t {
    kCpuAvx2 = 1u << 0,
    kCpuFma = 1u << 1,
    kCpuAvx512F = 1u << 2,
    kCpuAvx512Dq = 1u << 3,
    kCpuNeon = 1u << 4,     // Advanced SIMD with double precision (AArch64)
    kCpuSimd128 = 1u << 5,  // WebAssembly's 128-bit SIMD
};
using TCpuFeatures = std::uint32_t;

// Every path of the table, Scalar first, whether this build holds it or not.
std::span<const TAoPath> AoPaths();

// The path's name ("scalar", "avx2", ...); "unknown" for a value outside the
// table.
const char* AoPathName(TAoPath path);

// What the running CPU (and its operating system) supports; 0 on builds and
// machines without the vector paths. A WebAssembly build that holds the
// SIMD128 path reports it: an engine without it would not have loaded it.
TCpuFeatures DetectCpuFeatures();

// Whether this build holds the path's code.
bool AoPathCompiled(TAoPath path);

// Whether the path is compiled and a CPU with these features can run it.
bool AoPathRunsOn(TAoPath path, TCpuFeatures features);

// The path with the most lanes that runs with these features; Scalar always
// runs.
TAoPath WidestAoPath(TCpuFeatures features);

// AoPathRunsOn for the running CPU.
bool AoPathSupported(TAoPath path);

// The path the kernel uses now: the widest supported one unless a path was
// forced with SelectAoPath.
//
// Concurrency: any thread may read the active path at any time and any
// thread may select one; the setting is a single atomic word. Switching
// while a render runs is harmless because every path yields the same
// results.
TAoPath ActiveAoPath();

// Forces the path used from now on. Refused (returns false, nothing changes)
// when the path is not compiled or the CPU cannot run it.
bool SelectAoPath(TAoPath path);

// Drops a forced path: the widest supported one is used again.
void UseWidestAoPath();

}  // namespace AoBench
