// ao_paths.cpp - CPU feature detection and the choice of the kernel's path.

#include "app/ao_paths.h"

#include <atomic>

#include "app/ao_vector_paths.h"

namespace AoBench {

namespace {

const TCpuFeatures& RunningCpu() {
    static const TCpuFeatures features = DetectCpuFeatures();
    return features;
}

bool ValidPath(TAoPath path) {
    const int value = static_cast<int>(path);
    return value >= 0 && value < kAoPathCount;
}

}  // namespace

const char* AoPathName(TAoPath path) {
    switch (path) {
        case TAoPath::Scalar:
            return "scalar";
        case TAoPath::Avx2:
            return "avx2";
        case TAoPath::Avx512:
            return "avx512";
        case TAoPath::Neon:
            return "neon";
    }
    return "unknown";
}

TCpuFeatures DetectCpuFeatures() {
    TCpuFeatures features;
#if defined(KAV_AO_X86_PATHS)
    // The run-time library's checks include the operating system's support
    // for saving the wide registers, not only the CPUID bits.
    __builtin_cpu_init();
    features.avx2 = __builtin_cpu_supports("avx2") != 0;
    features.fma = __builtin_cpu_supports("fma") != 0;
    features.avx512f = __builtin_cpu_supports("avx512f") != 0;
    features.avx512dq = __builtin_cpu_supports("avx512dq") != 0;
#endif
#if defined(KAV_AO_NEON_PATH)
    // Part of the AArch64 architecture: every such CPU has it.
    features.neon = true;
#endif
    return features;
}

bool AoPathCompiled(TAoPath path) {
    switch (path) {
        case TAoPath::Scalar:
            return true;
        case TAoPath::Avx2:
        case TAoPath::Avx512:
#if defined(KAV_AO_X86_PATHS)
            return true;
#else
            return false;
#endif
        case TAoPath::Neon:
#if defined(KAV_AO_NEON_PATH)
            return true;
#else
            return false;
#endif
    }
    return false;
}

bool AoPathRunsOn(TAoPath path, const TCpuFeatures& features) {
    if (!AoPathCompiled(path)) return false;
    switch (path) {
        case TAoPath::Scalar:
            return true;
        case TAoPath::Avx2:
            return features.avx2 && features.fma;
        case TAoPath::Avx512:
            // The compiler may also use AVX2 and FMA instructions in code built
            // for AVX-512, so those are required as well.
            return features.avx512f && features.avx512dq && features.avx2 && features.fma;
        case TAoPath::Neon:
            return features.neon;
    }
    return false;
}

TAoPath WidestAoPath(const TCpuFeatures& features) {
    if (AoPathRunsOn(TAoPath::Avx512, features)) return TAoPath::Avx512;
    if (AoPathRunsOn(TAoPath::Avx2, features)) return TAoPath::Avx2;
    if (AoPathRunsOn(TAoPath::Neon, features)) return TAoPath::Neon;
    return TAoPath::Scalar;
}

bool AoPathSupported(TAoPath path) { return ValidPath(path) && AoPathRunsOn(path, RunningCpu()); }

extern const TAoPathEntries kScalarPathEntries = {TAoPath::Scalar, CountOccludedScalar, RayDirectionsScalar,
                                                  EvaluateCosSinScalar, TracePrimaryScalar};

const TAoPathEntries& AoPathEntries(TAoPath path) {
    switch (path) {
#if defined(KAV_AO_X86_PATHS)
        case TAoPath::Avx2:
            return kAvx2PathEntries;
        case TAoPath::Avx512:
            return kAvx512PathEntries;
#endif
#if defined(KAV_AO_NEON_PATH)
        case TAoPath::Neon:
            return kNeonPathEntries;
#endif
        default:
            return kScalarPathEntries;
    }
}

namespace {

// The table of the active path; null until the first use picks the widest
// supported one.
std::atomic<const TAoPathEntries*> activeEntries{nullptr};

}  // namespace

const TAoPathEntries& ActiveAoPathEntries() {
    const TAoPathEntries* entries = activeEntries.load(std::memory_order_acquire);
    if (entries != nullptr) return *entries;
    // Racing first users all pick the same table; a path forced meanwhile
    // stays.
    const TAoPathEntries* none = nullptr;
    activeEntries.compare_exchange_strong(none, &AoPathEntries(WidestAoPath(RunningCpu())),
                                          std::memory_order_acq_rel);
    return *activeEntries.load(std::memory_order_acquire);
}

TAoPath ActiveAoPath() { return ActiveAoPathEntries().path; }

bool SelectAoPath(TAoPath path) {
    if (!AoPathSupported(path)) return false;
    activeEntries.store(&AoPathEntries(path), std::memory_order_release);
    return true;
}

void UseWidestAoPath() {
    activeEntries.store(&AoPathEntries(WidestAoPath(RunningCpu())), std::memory_order_release);
}

}  // namespace AoBench
