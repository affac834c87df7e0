// libFuzzer entry point: arbitrary bytes loaded as an archive of one coding (KAV_FUZZ_CODING, 0 text, 1
// binary).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/sl_fuzz_harness.h"

#ifndef KAV_FUZZ_CODING
#error "KAV_FUZZ_CODING must name the archive coding"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const KavFuzz::TFuzzResult result = KavFuzz::LoadArchiveBytes(data, size, KAV_FUZZ_CODING);
    if (result.problem != nullptr) {
        std::fprintf(stderr, "archive property broken: %s\n", result.problem);
        std::abort();
    }
    return 0;
}
