// ao_paths.cpp - the table of the kernel's paths, CPU feature detection and
// the choice of the active path.

#include "app/ao_paths.h"

#include <array>
#include <atomic>

#include "app/ao_vector_paths.h"
#include "base/contract.h"

namespace AoBench {

extern const TAoPathEntries kScalarPathEntries = {TAoPath::Scalar,     CountOccludedScalar,
                                                  RayDirectionsScalar, EvaluateCosSinScalar,
                                                  TracePrimaryScalar,  MakeOcclusionQueriesScalar};

// The vector units' entry points, each defined by its unit where this build
// holds it.
extern const TAoPathEntries kAvx2PathEntries;
extern const TAoPathEntries kAvx512PathEntries;
extern const TAoPathEntries kNeonPathEntries;
extern const TAoPathEntries kSimd128PathEntries;

namespace {

#if defined(KAV_AO_X86_PATHS)
constexpr const TAoPathEntries* kAvx2 = &kAvx2PathEntries;
constexpr const TAoPathEntries* kAvx512 = &kAvx512PathEntries;
#else
constexpr const TAoPathEntries* kAvx2 = nullptr;
constexpr const TAoPathEntries* kAvx512 = nullptr;
#endif
#if defined(KAV_AO_NEON_PATH)
constexpr const TAoPathEntries* kNeon = &kNeonPathEntries;
#else
constexpr const TAoPathEntries* kNeon = nullptr;
#endif
#if defined(KAV_AO_WASM_SIMD_PATH)
constexpr const TAoPathEntries* kSimd128 = &kSimd128PathEntries;
#else
constexpr const TAoPathEntries* kSimd128 = nullptr;
#endif

#if defined(KAV_AO_AVX512_EMULATED)
// A test build whose AVX-512 unit is emulated on AVX2 and FMA.
constexpr TCpuFeatures kAvx512Needs = kCpuAvx2 | kCpuFma;
#else
// The compiler may also use AVX2 and FMA instructions in code built for
// AVX-512, so those are required as well.
constexpr TCpuFeatures kAvx512Needs = kCpuAvx512F | kCpuAvx512Dq | kCpuAvx2 | kCpuFma;
#endif

// Row i is the path TAoPath(i).
constexpr TAoTarget kTargets[] = {
    {TAoPath::Scalar, "scalar", 1, 0, &kScalarPathEntries},
    {TAoPath::Avx2, "avx2", 8, kCpuAvx2 | kCpuFma, kAvx2},
    {TAoPath::Avx512, "avx512", 16, kAvx512Needs, kAvx512},
    // Part of the AArch64 architecture: every such CPU has it.
    {TAoPath::Neon, "neon", 4, kCpuNeon, kNeon},
    // A WebAssembly engine without SIMD refuses a module that holds it: the
    // build that holds it runs only where it is supported.
    {TAoPath::Simd128, "simd128", 4, kCpuSimd128, kSimd128},
};
constexpr int kTargetCount = static_cast<int>(std::size(kTargets));

constexpr bool RowsInOrder() {
    for (int i = 0; i < kTargetCount; ++i) {
        if (static_cast<int>(kTargets[i].path) != i) return false;
    }
    return true;
}
static_assert(RowsInOrder(), "row i of the table is the path TAoPath(i)");

constexpr std::array<TAoPath, kTargetCount> kPaths = [] {
    std::array<TAoPath, kTargetCount> paths{};
    for (int i = 0; i < kTargetCount; ++i) paths[i] = kTargets[i].path;
    return paths;
}();

TCpuFeatures RunningCpu() {
    static const TCpuFeatures features = DetectCpuFeatures();
    return features;
}

}  // namespace

std::span<const TAoPath> AoPaths() { return kPaths; }

const TAoTarget* AoTargetOf(TAoPath path) {
    const int row = static_cast<int>(path);
    return row >= 0 && row < kTargetCount ? &kTargets[row] : nullptr;
}

const char* AoPathName(TAoPath path) {
    const TAoTarget* target = AoTargetOf(path);
    return target != nullptr ? target->name : "unknown";
}

TCpuFeatures DetectCpuFeatures() {
    TCpuFeatures features = 0;
#if defined(KAV_AO_X86_PATHS)
    // The run-time library's checks include the operating system's support
    // for saving the wide registers, not only the CPUID bits.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) features |= kCpuAvx2;
    if (__builtin_cpu_supports("fma")) features |= kCpuFma;
    if (__builtin_cpu_supports("avx512f")) features |= kCpuAvx512F;
    if (__builtin_cpu_supports("avx512dq")) features |= kCpuAvx512Dq;
#endif
#if defined(KAV_AO_NEON_PATH)
    features |= kCpuNeon;
#endif
#if defined(KAV_AO_WASM_SIMD_PATH)
    features |= kCpuSimd128;
#endif
    return features;
}

bool AoPathCompiled(TAoPath path) {
    const TAoTarget* target = AoTargetOf(path);
    return target != nullptr && target->entries != nullptr;
}

bool AoPathRunsOn(TAoPath path, TCpuFeatures features) {
    return AoPathCompiled(path) && (features & AoTargetOf(path)->required) == AoTargetOf(path)->required;
}

TAoPath WidestAoPath(TCpuFeatures features) {
    const TAoTarget* widest = &kTargets[0];
    for (const TAoTarget& target : kTargets) {
        if (target.lanes > widest->lanes && AoPathRunsOn(target.path, features)) widest = &target;
    }
    return widest->path;
}

bool AoPathSupported(TAoPath path) { return AoPathRunsOn(path, RunningCpu()); }

const TAoPathEntries& AoPathEntries(TAoPath path) {
    return AoPathCompiled(path) ? *AoTargetOf(path)->entries : kScalarPathEntries;
}

const TAoPathEntries& SupportedAoPathEntries(TAoPath path) {
    KAV_CONTRACT(AoPathSupported(path), "the kernel's path %s (%d) does not run on this CPU or in this build",
                 AoPathName(path), static_cast<int>(path));
    return *AoTargetOf(path)->entries;
}

namespace {

// The entry points of the active path; null until the first use picks the
// widest supported one.
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
