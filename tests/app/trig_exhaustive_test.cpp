// Exhaustive test of the vector paths' cosine and sine: for every angle the
// kernel can draw, phi = u2 * K over all 2^32 values of u2, they must round to
// the same single-precision values as the library's double-precision cos
// and sin do.
//
// There are 82,577,759 distinct angles. An optimised build without
// sanitizers, run natively, checks all of them (a few seconds); other builds,
// and builds whose tests run under a user-mode emulator (tens of times
// slower), check every 61st, plus the angles whose results lie closest to a
// single-precision rounding midpoint, so that they finish in seconds too.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_scene.h"
#include "base/bit_cast.h"
#include "tests/app/ao_path_params.h"

namespace {

using namespace AoBench;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

#if defined(__OPTIMIZE__)
constexpr bool kOptimised = true;
#else
constexpr bool kOptimised = false;
#endif

// Windows builds run under Wine, which is no emulator: they run natively.
// So do WebAssembly builds, which Node compiles to native code (the whole
// sweep takes seconds there too).
#if defined(KAV_TEST_UNDER_EMULATOR) && !defined(_WIN32) && !defined(__EMSCRIPTEN__)
constexpr bool kEmulated = true;
#else
constexpr bool kEmulated = false;
#endif

constexpr std::size_t kStride = kOptimised && !kSanitized && !kEmulated ? 1 : 61;
constexpr std::size_t kDistinctAngles = 82577759;

// The angles whose library results lie within 8 double-precision ulps of a
// single-precision rounding midpoint (two of them within 2 ulps).
constexpr std::uint32_t kHardestAngles[] = {0x3C107FE6u, 0x3D0650EAu, 0x3DCF5597u, 0x3E5FA70Eu, 0x3EF3830Fu};

float PhiOf(std::uint64_t u2) {
    return static_cast<float>(static_cast<double>(u2) * static_cast<double>(kPhiScale));
}

// Every distinct phi over all u2 in [0, 2^32), in increasing order. phi
// never decreases with u2, so from each angle the walk jumps to the first u2
// past the rounding interval of the angle, found from the interval's upper
// midpoint and corrected by direct evaluation.
std::vector<float> DistinctAngles(std::size_t stride) {
    std::vector<float> angles;
    angles.reserve(kDistinctAngles / stride + 1);
    std::size_t index = 0;
    std::uint64_t u2 = 0;
    while (u2 <= 0xFFFFFFFFu) {
        const float phi = PhiOf(u2);
        if (index++ % stride == 0) angles.push_back(phi);
        const float next = std::nextafter(phi, std::numeric_limits<float>::infinity());
        const double guess =
            (static_cast<double>(phi) + static_cast<double>(next)) * 0.5 / static_cast<double>(kPhiScale);
        std::uint64_t first = guess >= 0x1p32 ? std::uint64_t{1} << 32 : static_cast<std::uint64_t>(guess);
        if (first <= u2) first = u2 + 1;
        while (first > u2 + 1 && PhiOf(first - 1) > phi) --first;
        while (first <= 0xFFFFFFFFu && PhiOf(first) <= phi) ++first;
        u2 = first;
    }
    EXPECT_EQ(index, kDistinctAngles);
    if (stride > 1) {
        for (std::uint32_t bits : kHardestAngles) angles.push_back(KavV3Base::BitCast<float>(bits));
    }
    return angles;
}

// The check runs EvaluateCosSin, the render's own evaluation on each path:
// a fault in its quadrant, its guard band or its fallback shows here.
TEST(AoVectorTrig, EveryKernelAngleRoundsLikeTheLibrary) {
    const std::vector<TAoPath> paths = SupportedVectorAoPaths();
    if (paths.empty()) GTEST_SKIP() << "no vector path runs here";
    RecordProperty("stride", static_cast<int>(kStride));

    const std::vector<float> angles = DistinctAngles(kStride);
    constexpr std::size_t kBlock = 1 << 14;
    std::vector<float> cosLib(kBlock), sinLib(kBlock), cosVec(kBlock), sinVec(kBlock);

    struct TTally {
        std::size_t mismatches = 0;
        std::size_t fromLibrary = 0;
    };
    std::vector<TTally> tallies(paths.size());
    for (std::size_t at = 0; at < angles.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, angles.size() - at);
        EvaluateCosSin(TAoPath::Scalar, angles.data() + at, n, cosLib.data(), sinLib.data());
        for (std::size_t p = 0; p < paths.size(); ++p) {
            TTally& tally = tallies[p];
            tally.fromLibrary +=
                EvaluateCosSin(paths[p], angles.data() + at, n, cosVec.data(), sinVec.data());
            for (std::size_t i = 0; i < n; ++i) {
                const bool same = KavV3Base::BitCast<std::uint32_t>(cosVec[i]) ==
                                      KavV3Base::BitCast<std::uint32_t>(cosLib[i]) &&
                                  KavV3Base::BitCast<std::uint32_t>(sinVec[i]) ==
                                      KavV3Base::BitCast<std::uint32_t>(sinLib[i]);
                if (!same && tally.mismatches++ < 10) {
                    ADD_FAILURE() << AoPathName(paths[p]) << ": angle " << std::hexfloat << angles[at + i]
                                  << " gives cos " << cosVec[i] << " sin " << sinVec[i] << ", the library "
                                  << cosLib[i] << " " << sinLib[i];
                }
            }
        }
    }

    for (std::size_t p = 0; p < paths.size(); ++p) {
        const char* name = AoPathName(paths[p]);
        EXPECT_EQ(tallies[p].mismatches, 0u) << name;
        // Only the rare results next to a rounding midpoint come from the
        // library: 5 of the 82,577,759 angles with glibc. Many more would mean
        // a vector evaluation far less accurate than it should be, which the
        // guard band no longer covers.
        EXPECT_LE(tallies[p].fromLibrary, 100u) << name;
        RecordProperty(std::string(name) + "_library_steps", static_cast<int>(tallies[p].fromLibrary));
    }
}

// Distance, in double-precision ulps, of v from the nearest midpoint between
// two floats.
double UlpsFromMidpoint(long double v) {
    const float rounded = static_cast<float>(v);
    const float other = std::nextafter(rounded, v > rounded ? std::numeric_limits<float>::infinity()
                                                            : -std::numeric_limits<float>::infinity());
    const long double midpoint = (static_cast<long double>(rounded) + other) / 2;
    const double magnitude = std::fabs(static_cast<double>(midpoint));
    const double ulp = std::nextafter(magnitude, std::numeric_limits<double>::infinity()) - magnitude;
    return static_cast<double>(std::fabs(v - midpoint)) / ulp;
}

// The guard band in the render's own route: an angle whose true cosine or
// sine lies well inside the band around a rounding midpoint must take its
// results from the library. (On glibc the vector evaluation happens to round
// every kernel angle right even without the band, so the check above alone
// would not notice a band test that never fires.)
TEST(AoVectorTrig, ResultsNextToAMidpointComeFromTheLibrary) {
    int checked = 0;
    for (std::uint32_t bits : kHardestAngles) {
        const float angle = KavV3Base::BitCast<float>(bits);
        const long double x = angle;
        if (std::min(UlpsFromMidpoint(std::cos(x)), UlpsFromMidpoint(std::sin(x))) > 4.0) continue;
        ++checked;
        for (TAoPath path : SupportedVectorAoPaths()) {
            float cosine = 0.0f;
            float sine = 0.0f;
            EXPECT_EQ(EvaluateCosSin(path, &angle, 1, &cosine, &sine), 1u)
                << AoPathName(path) << ", angle " << std::hexfloat << angle;
        }
    }
    // The long double evaluation is at least as precise as double everywhere
    // this runs, and two of the angles lie within 2 ulps of a midpoint.
    EXPECT_GE(checked, 2);
}

}  // namespace
