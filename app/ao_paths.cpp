// ao_paths.cpp - CPU feature detection and the choice of the kernel's path.

#include "app/ao_paths.h"

#include <atomic>

namespace {

// -1 until the first use picks the widest supported path.
std::atomic<int> activePath{-1};

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
  }
  return false;
}

TAoPath WidestAoPath(const TCpuFeatures& features) {
  if (AoPathRunsOn(TAoPath::Avx512, features)) return TAoPath::Avx512;
  if (AoPathRunsOn(TAoPath::Avx2, features)) return TAoPath::Avx2;
  return TAoPath::Scalar;
}

bool AoPathSupported(TAoPath path) {
  return ValidPath(path) && AoPathRunsOn(path, RunningCpu());
}

TAoPath ActiveAoPath() {
  int path = activePath.load(std::memory_order_relaxed);
  if (path < 0) {
    // Racing first users all compute the same answer.
    path = static_cast<int>(WidestAoPath(RunningCpu()));
    int expected = -1;
    activePath.compare_exchange_strong(expected, path, std::memory_order_relaxed);
    path = activePath.load(std::memory_order_relaxed);
  }
  return static_cast<TAoPath>(path);
}

bool SelectAoPath(TAoPath path) {
  if (!AoPathSupported(path)) return false;
  activePath.store(static_cast<int>(path), std::memory_order_relaxed);
  return true;
}

void UseWidestAoPath() {
  activePath.store(static_cast<int>(WidestAoPath(RunningCpu())), std::memory_order_relaxed);
}
