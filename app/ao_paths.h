// ao_paths.h - the code paths of the AO kernel's ray work (scalar, AVX2,
// AVX-512, NEON), which of them this build holds, which the running CPU can
// execute, and the one that is in use.
//
// Every path computes bit for bit what the scalar kernel computes, so the
// choice changes only the speed. The widest path the CPU supports is chosen
// on first use; tests and benchmarks may force another one.

#pragma once

namespace AoBench {

enum class TAoPath : int {
    Scalar = 0,
    Avx2 = 1,    // 8 lanes; needs AVX2 and FMA
    Avx512 = 2,  // 16 lanes; needs AVX-512 F and DQ
    Neon = 3,    // 4 lanes; every 64-bit ARM CPU has it
};

inline constexpr int kAoPathCount = 4;

// The instruction-set extensions the vector paths rely on.
struct TCpuFeatures {
    bool avx2 = false;
    bool fma = false;
    bool avx512f = false;
    bool avx512dq = false;
    bool neon = false;  // Advanced SIMD with double precision (AArch64)
};

// "scalar", "avx2", "avx512", "neon"; "unknown" for a value outside the
// enumeration.
const char* AoPathName(TAoPath path);

// What the running CPU (and its operating system) supports. All false on
// builds and machines without the vector paths.
TCpuFeatures DetectCpuFeatures();

// Whether this build holds the path's code: AVX2 and AVX-512 exist in x86-64
// builds by GCC or Clang, NEON in AArch64 builds.
bool AoPathCompiled(TAoPath path);

// Whether the path is compiled and a CPU with these features can run it.
bool AoPathRunsOn(TAoPath path, const TCpuFeatures& features);

// The widest path that runs with these features; Scalar always does.
TAoPath WidestAoPath(const TCpuFeatures& features);

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
