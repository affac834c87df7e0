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
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_scene.h"

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
#if defined(KAV_TEST_UNDER_EMULATOR) && !defined(_WIN32)
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
        for (std::uint32_t bits : kHardestAngles) angles.push_back(std::bit_cast<float>(bits));
    }
    return angles;
}

double UlpsApart(double value, double reference) {
    const double magnitude = std::fabs(reference);
    const double ulp = std::nextafter(magnitude, std::numeric_limits<double>::infinity()) - magnitude;
    return std::fabs(value - reference) / ulp;
}

TEST(AoVectorTrig, EveryKernelAngleRoundsLikeTheLibrary) {
    std::vector<TAoPath> paths;
    for (TAoPath path : {TAoPath::Avx2, TAoPath::Avx512, TAoPath::Neon}) {
        if (AoPathSupported(path)) paths.push_back(path);
    }
    if (paths.empty()) GTEST_SKIP() << "no vector path runs here";
    RecordProperty("stride", static_cast<int>(kStride));

    const std::vector<float> angles = DistinctAngles(kStride);
    constexpr std::size_t kBlock = 1 << 14;
    std::vector<float> cosLib(kBlock), sinLib(kBlock), cosVec(kBlock), sinVec(kBlock);
    std::vector<double> cosLibRaw(kBlock), sinLibRaw(kBlock), cosVecRaw(kBlock), sinVecRaw(kBlock);

    struct TTally {
        std::size_t mismatches = 0;
        std::size_t fallbacks = 0;
        double worstUlps = 0.0;
    };
    std::vector<TTally> tallies(paths.size());
    for (std::size_t at = 0; at < angles.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, angles.size() - at);
        EvaluateCosSin(TAoPath::Scalar, angles.data() + at, n, cosLib.data(), sinLib.data(), cosLibRaw.data(),
                       sinLibRaw.data());
        for (std::size_t p = 0; p < paths.size(); ++p) {
            TTally& tally = tallies[p];
            tally.fallbacks += EvaluateCosSin(paths[p], angles.data() + at, n, cosVec.data(), sinVec.data(),
                                              cosVecRaw.data(), sinVecRaw.data());
            for (std::size_t i = 0; i < n; ++i) {
                const bool same =
                    std::bit_cast<std::uint32_t>(cosVec[i]) == std::bit_cast<std::uint32_t>(cosLib[i]) &&
                    std::bit_cast<std::uint32_t>(sinVec[i]) == std::bit_cast<std::uint32_t>(sinLib[i]);
                if (!same && tally.mismatches++ < 10) {
                    ADD_FAILURE() << AoPathName(paths[p]) << ": angle " << std::hexfloat << angles[at + i]
                                  << " gives cos " << cosVec[i] << " sin " << sinVec[i] << ", the library "
                                  << cosLib[i] << " " << sinLib[i];
                }
                tally.worstUlps = std::max({tally.worstUlps, UlpsApart(cosVecRaw[i], cosLibRaw[i]),
                                            UlpsApart(sinVecRaw[i], sinLibRaw[i])});
            }
        }
    }

    for (std::size_t p = 0; p < paths.size(); ++p) {
        const char* name = AoPathName(paths[p]);
        EXPECT_EQ(tallies[p].mismatches, 0u) << name;
        // The vector evaluation itself stays within about 1 ulp of a library
        // that is within about half an ulp of the true value, as glibc's is ...
        // MinGW-w64's cos and sin are off by up to 3,667 ulps on these angles,
        // yet round to the same single-precision values on every one of them,
        // and those (checked above) are what the picture is made of.
#if !defined(_WIN32)
        EXPECT_LE(tallies[p].worstUlps, 2.0) << name;
#endif
        RecordProperty(std::string(name) + "_worst_ulps_from_library",
                       static_cast<int>(tallies[p].worstUlps));
        // ... so only the rare results next to a rounding midpoint are taken
        // from the library: 5 of the 82,577,759 angles with glibc.
        EXPECT_LE(tallies[p].fallbacks, 100u) << name;
        RecordProperty(std::string(name) + "_library_fallbacks", static_cast<int>(tallies[p].fallbacks));
    }
}

TEST(AoVectorTrig, AnglesOutsideTheKernelsRangeAgreeWithTheLibrary) {
    const float angles[] = {-0.0f,
                            -1.0f,
                            -6.2831855f,
                            7.5f,
                            100.0f,
                            12345.678f,
                            65536.0f,
                            70000.5f,
                            1e10f,
                            -3e38f,
                            std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::denorm_min()};
    constexpr std::size_t n = std::size(angles);
    for (TAoPath path : {TAoPath::Avx2, TAoPath::Avx512, TAoPath::Neon}) {
        if (!AoPathSupported(path)) continue;
        float cosVec[n], sinVec[n], cosLib[n], sinLib[n];
        EvaluateCosSin(path, angles, n, cosVec, sinVec);
        EvaluateCosSin(TAoPath::Scalar, angles, n, cosLib, sinLib);
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(cosVec[i]), std::bit_cast<std::uint32_t>(cosLib[i]))
                << AoPathName(path) << " cos " << angles[i];
            EXPECT_EQ(std::bit_cast<std::uint32_t>(sinVec[i]), std::bit_cast<std::uint32_t>(sinLib[i]))
                << AoPathName(path) << " sin " << angles[i];
        }
    }
}

}  // namespace
