// Tests of the render object: its generator states and draws, the shading of
// one point and the packing of a pixel, the single-threaded picture on every
// path against its digest, the row jobs of the multi-threaded render, and
// overrides of AmbientOcclusion: every shaded sub-sample reaches them, and
// what they pass on is shaded as the scalar kernel shades it.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

#include "3d/bitmap/bitmap.h"
#include "app/ao_paths.h"
#include "app/ao_render.h"
#include "app/ao_scene.h"
#include "tests/app/ao_path_params.h"
#include "tests/app/ao_test_scene.h"

namespace {

using namespace AoBench;

TEST(AoRandom, FirstOutputsAndFullStateOfSlotZero) {
    TTest3DLoop_AmbOccTest_AO test;
    test.rngStates[0] = 0x2B24688;  // slot 0's value after Setup
    EXPECT_EQ(test.NextRandom(0), 0x789846A6u);
    // The state keeps all 64 bits: nothing above bit 47 is masked off.
    EXPECT_EQ(test.rngStates[0], 0x0FD4789846A637F3ull);
    EXPECT_EQ(test.NextRandom(0), 0x85CEB90Eu);
    EXPECT_EQ(test.rngStates[0], 0x3CB485CEB90E2482ull);
    EXPECT_EQ(test.NextRandom(0), 0x4683E3AAu);
    EXPECT_EQ(test.rngStates[0], 0x45684683E3AA5765ull);
}

TEST(AoRandom, StatesPerSlotAfterConstructionAndSetup) {
    TTest3DLoop_AmbOccTest_AO test;
    for (std::uint64_t state : test.rngStates) EXPECT_EQ(state, 0x1234ABCD330Eull);
    test.Setup();
    const std::uint64_t expected[8] = {0x2B24688, 0x44978A2, 0x550205B, 0x47BF459,
                                       0x35889EB, 0x1697BA4, 0x4E20F02, 0x4221027};
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(test.rngStates[slot], expected[slot]) << slot;
    EXPECT_EQ(test.subSamples, 2);
    EXPECT_EQ(test.aoSamples, 8);
    // The scene, bit for bit, that the kernel tests take from ao_test_scene.h.
    EXPECT_EQ(std::memcmp(&test.plane, &kPlane, sizeof(kPlane)), 0);
    EXPECT_EQ(std::memcmp(test.spheres, kSpheres, sizeof(kSpheres)), 0);
}

TEST(AoRandomDeathTest, SlotWithoutStateStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TTest3DLoop_AmbOccTest_AO test;
    EXPECT_DEATH(test.NextRandom(8), "thread slot 8 has no random generator state");
    EXPECT_DEATH(test.NextRandom(-1), "thread slot -1");
    TVec3 colour{};
    EXPECT_DEATH(test.AmbientOcclusion({0, 0, 0}, {0, 1, 0}, colour, 9), "thread slot 9");
}

TEST(AoShading, OpenGroundIsMultipleOfOneSixtyFourth) {
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    const std::uint64_t before = test.rngStates[3];
    TVec3 colour{};
    const TVec3* result = test.AmbientOcclusion({10.0f, -0.5f, 10.0f}, {0, 1, 0}, colour, 3);
    EXPECT_EQ(result, &colour);
    // Far from every sphere nothing blocks the hemisphere.
    EXPECT_EQ(colour.x, 1.0f);
    EXPECT_EQ(colour.y, colour.x);
    EXPECT_EQ(colour.z, colour.x);
    std::uint64_t expected = before;
    for (int i = 0; i < 128; ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[3], expected);

    // Under a sphere part of the sky is hidden: a multiple of 1/64 below 1.
    test.AmbientOcclusion({-0.5f, -0.5f, -3.0f}, {0, 1, 0}, colour, 3);
    EXPECT_LT(colour.x, 1.0f);
    EXPECT_EQ(colour.x * 64.0f, static_cast<float>(static_cast<int>(colour.x * 64.0f)));
}

// A pixel whose sub-samples all hit and are never occluded is opaque white.
class TOpenSkyAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3&, const TVec3&, TVec3& colour, int) override {
        colour = {1.0f, 1.0f, 1.0f};
        return &colour;
    }
};

TEST(AoShading, PixelPackingAndBackground) {
    TOpenSkyAo test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(256, 256, 32);
    auto* row0 = reinterpret_cast<std::uint32_t*>(bitmap.GetBits());
    auto* lastRow = reinterpret_cast<std::uint32_t*>(bitmap.GetBits() + 255 * bitmap.GetPitch());
    test.RenderRow(0, &bitmap, row0, 0);
    test.RenderRow(255, &bitmap, lastRow, 0);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(row0[x], 0xFFFFFFFFu) << x;     // looks down at the ground
        EXPECT_EQ(lastRow[x], 0xFF000000u) << x;  // looks up into nothing
    }
}

constexpr int kSize = 256;
// Shaded sub-samples of the 256 x 256 picture with 2 x 2 sub-samples.
constexpr std::uint64_t kShadedSubSamples = 142874;
constexpr std::uint64_t kStepsPerSubSample = 2 * 64;
// Digest of the single-threaded 256 x 256 picture and slot 0's state after it.
constexpr std::uint64_t kPictureDigest = 0xBC3D63416A72275Full;
constexpr std::uint64_t kFinalSlotZeroState = 0x651A093344594B88ull;

std::vector<std::uint32_t> Pixels(KavV33D::TBitmap& bitmap) {
    const auto* words = reinterpret_cast<const std::uint32_t*>(bitmap.GetBits());
    return {words, words + static_cast<std::size_t>(bitmap.GetWidth()) * bitmap.GetHeight()};
}

// The bytes of a whole file; empty when it cannot be read.
std::vector<unsigned char> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// For a picture whose digest is not the expected one: saves it beside the
// test as ao_single_thread_<path>.bmp (its full path is in the message) and
// says how many pixels differ from the reference picture kept with the tests,
// and where. Both are 24-bit BMP files of the picture, row 0 first, 54 header
// bytes and no row padding.
std::string DescribeDifference(KavV33D::TBitmap& got, TAoPath path) {
    const std::filesystem::path gotPath =
        std::filesystem::absolute(std::string("ao_single_thread_") + AoPathName(path) + ".bmp");
    std::ostringstream message;
    if (got.SaveBmp(gotPath.string().c_str()) == 0) return "the picture could not be saved";
    message << "picture saved as " << gotPath.string() << "; ";
    const std::vector<unsigned char> actual = ReadFile(gotPath);
    const std::vector<unsigned char> reference = ReadFile(KAV_TEST_REFERENCE_PICTURE);
    constexpr std::size_t kHeader = 54;
    constexpr std::size_t kBytes = kHeader + 3u * kSize * kSize;
    if (reference.size() != kBytes || actual.size() != kBytes)
        return message.str() + "no reference picture of the right size at " KAV_TEST_REFERENCE_PICTURE;
    int differing = 0;
    int top = kSize, bottom = -1, left = kSize, right = -1;
    for (int row = 0; row < kSize; ++row) {
        for (int column = 0; column < kSize; ++column) {
            const std::size_t at = kHeader + 3u * (static_cast<std::size_t>(row) * kSize + column);
            if (std::equal(&actual[at], &actual[at + 3], &reference[at])) continue;
            ++differing;
            top = std::min(top, row);
            bottom = std::max(bottom, row);
            left = std::min(left, column);
            right = std::max(right, column);
        }
    }
    message << differing << " of " << kSize * kSize << " pixels differ from " KAV_TEST_REFERENCE_PICTURE;
    if (differing > 0)
        message << ", within rows " << top << ".." << bottom << " and columns " << left << ".." << right;
    return message.str();
}

// Counts the shaded sub-samples while shading as usual.
class TCountingAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        calls.fetch_add(1, std::memory_order_relaxed);
        return TTest3DLoop_AmbOccTest_AO::AmbientOcclusion(point, normal, colour, slot);
    }
    std::atomic<std::uint64_t> calls{0};
};

std::uint64_t StepsFrom(std::uint64_t from, std::uint64_t to, std::uint64_t limit) {
    for (std::uint64_t n = 0; n <= limit; ++n) {
        if (from == to) return n;
        StepRandom(from);
    }
    return limit + 1;
}

// Run on every path of the table, the scalar one included.
class AoRenderPaths : public TVectorPathTest {};

// The single-threaded picture is part of the benchmark's contract: any change
// to the kernel's arithmetic or draw order, on any path, changes its digest
// or slot 0's final state.
TEST_P(AoRenderPaths, SingleThreadGivesTheDigestAndAdvancesSlotZeroOnly) {
    TForcedPath forced(GetParam());
    ASSERT_TRUE(forced.selected);
    KavV33D::TBitmap bitmap;
    bitmap.Create(kSize, kSize, 32);
    TCountingAo test;
    test.Setup();
    const std::uint64_t start = test.rngStates[0];
    test.RenderSingleThread(&bitmap);
    EXPECT_EQ(test.calls.load(), kShadedSubSamples);

    std::uint64_t expected = start;
    for (std::uint64_t i = 0; i < kShadedSubSamples * kStepsPerSubSample; ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[0], expected);
    for (int slot = 1; slot < 8; ++slot) {
        TTest3DLoop_AmbOccTest_AO fresh;
        fresh.Setup();
        EXPECT_EQ(test.rngStates[slot], fresh.rngStates[slot]) << slot;
    }

    for (std::uint32_t pixel : Pixels(bitmap)) EXPECT_EQ(pixel >> 24, 0xFFu);

    EXPECT_EQ(PictureDigest(bitmap, kSize), kPictureDigest) << DescribeDifference(bitmap, GetParam());
    EXPECT_EQ(test.rngStates[0], kFinalSlotZeroState);
}

INSTANTIATE_TEST_SUITE_P(Every, AoRenderPaths, ::testing::ValuesIn(AoPaths()), AoPathParamName);

class AoRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        bitmap.Create(kSize, kSize, 32);
        test.Setup();
    }
    KavV33D::TBitmap bitmap;
    TCountingAo test;
};

TEST_F(AoRenderTest, MultiThreadQueuesOneJobPerRowAndUsesWorkerSlots) {
    std::uint64_t before[8];
    for (int slot = 0; slot < 8; ++slot) before[slot] = test.rngStates[slot];

    test.RenderMultiThread(&bitmap);

    ASSERT_EQ(test.jobs.size(), static_cast<std::size_t>(kSize));
    for (int row = 0; row < kSize; ++row) {
        const TTest3DLoop_AmbOccTest_Job& job = test.jobs[row];
        EXPECT_EQ(job.row, row);
        EXPECT_EQ(job.owner, &test);
        EXPECT_EQ(job.bitmap, &bitmap);
        EXPECT_EQ(reinterpret_cast<unsigned char*>(job.rowBits), bitmap.GetBits() + row * bitmap.GetPitch());
        EXPECT_GE(job.threadSlot, 1);
        EXPECT_LE(job.threadSlot, 4);
    }
    EXPECT_EQ(test.calls.load(), kShadedSubSamples);

    // Slot 0 and the unused slots are untouched; the workers' slots together
    // advanced by exactly the steps the picture needs.
    EXPECT_EQ(test.rngStates[0], before[0]);
    for (int slot = 5; slot < 8; ++slot) EXPECT_EQ(test.rngStates[slot], before[slot]);
    const std::uint64_t total = kShadedSubSamples * kStepsPerSubSample;
    std::uint64_t sum = 0;
    for (int slot = 1; slot <= 4; ++slot) {
        const std::uint64_t steps = StepsFrom(before[slot], test.rngStates[slot], total);
        ASSERT_LE(steps, total) << "slot " << slot << " state is not on its own sequence";
        EXPECT_EQ(steps % kStepsPerSubSample, 0u);
        sum += steps;
    }
    EXPECT_EQ(sum, total);
}

TEST_F(AoRenderTest, SecondRenderShrinksTheJobArray) {
    test.RenderMultiThread(&bitmap);
    KavV33D::TBitmap small;
    small.Create(16, 8, 32);
    test.RenderMultiThread(&small);
    ASSERT_EQ(test.jobs.size(), 8u);
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(test.jobs[row].bitmap, &small);
        EXPECT_EQ(reinterpret_cast<unsigned char*>(test.jobs[row].rowBits),
                  small.GetBits() + row * small.GetPitch());
    }
}

TEST_F(AoRenderTest, EmptyBitmapQueuesNothing) {
    KavV33D::TBitmap empty;
    empty.Create(4, 0, 32);
    test.RenderMultiThread(&empty);
    EXPECT_TRUE(test.jobs.empty());
    EXPECT_EQ(test.calls.load(), 0u);
}

// Occlusion noise depends on which worker's slot shades a row, so two
// multi-threaded pictures may differ there (even in which pixels come out
// fully black). With shading that draws nothing, every row must land exactly
// where the single-threaded render puts it.
TEST(AoRenderRows, MultiThreadRowsLandWhereSingleThreadPutsThem) {
    class TFlatAo : public TTest3DLoop_AmbOccTest_AO {
    public:
        TVec3* AmbientOcclusion(const TVec3& point, const TVec3&, TVec3& colour, int) override {
            // Height of the shaded point, so that rows and pixels differ.
            const float shade = point.y + 0.5f;
            colour = {shade, shade, shade};
            return &colour;
        }
    };
    TFlatAo multi;
    multi.Setup();
    KavV33D::TBitmap multiPicture;
    multiPicture.Create(kSize, kSize, 32);
    multi.RenderMultiThread(&multiPicture);

    TFlatAo single;
    single.Setup();
    KavV33D::TBitmap singlePicture;
    singlePicture.Create(kSize, kSize, 32);
    single.RenderSingleThread(&singlePicture);

    const std::vector<std::uint32_t> multiPixels = Pixels(multiPicture);
    const std::vector<std::uint32_t> singlePixels = Pixels(singlePicture);
    std::size_t distinct = 0;
    for (std::size_t i = 0; i + 1 < singlePixels.size(); ++i)
        distinct += singlePixels[i] != singlePixels[i + 1];
    EXPECT_GT(distinct, 1000u);
    EXPECT_EQ(multiPixels, singlePixels);
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(multi.rngStates[slot], single.rngStates[slot]) << slot;
}

// An override that shades some sub-samples at another point or normal,
// draws extra numbers, shades twice, or changes the scene or the sample
// count for one call; Shade is the base class's AmbientOcclusion here.
class TTweakingAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        const std::uint32_t call = calls++;
        switch (call % 7) {
            case 1:
                return Shade(point + TVec3{0.0f, 0.25f, 0.0f}, normal, colour, slot);
            case 2:
                return Shade(point, Normalized({normal.z, normal.x, normal.y + 0.5f}), colour, slot);
            case 3:
                NextRandom(slot);
                return Shade(point, normal, colour, slot);
            case 4: {
                TVec3 second;
                Shade(point, normal, second, slot);
                Shade(point, normal, colour, slot);
                colour = (colour + second) * 0.5f;
                return &colour;
            }
            case 5: {
                const TSphere kept = spheres[1];
                spheres[1].center.y += 0.3f;
                Shade(point, normal, colour, slot);
                spheres[1] = kept;
                return &colour;
            }
            case 6: {
                aoSamples = call % 2 == 0 ? 3 : 8;  // the row's own count every other time
                Shade(point, normal, colour, slot);
                aoSamples = 8;
                return &colour;
            }
            default:
                return Shade(point, normal, colour, slot);
        }
    }
    virtual TVec3* Shade(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) {
        return TTest3DLoop_AmbOccTest_AO::AmbientOcclusion(point, normal, colour, slot);
    }
    std::uint32_t calls = 0;
};

// The same, with the shading done by the scalar kernel as written out here
// (LookAt's frame, the rays' draws through NextRandom, one intersection test
// per ray).
class TScalarTweakingAo : public TTweakingAo {
public:
    TVec3* Shade(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        const TVec3 origin = point + normal * kRayEpsilon;
        TMatrix4 frame = TMatrix4::Identity();
        LookAt(frame, -normal, TVec3{0.0f, 1.0f, 0.0f});
        float occluded = 0.0f;
        for (int ray = 0; ray < aoSamples * aoSamples; ++ray) {
            const float r1 = static_cast<float>(static_cast<double>(NextRandom(slot)) * 0x1p-32);
            const float phi =
                static_cast<float>(static_cast<double>(NextRandom(slot)) * static_cast<double>(kPhiScale));
            const float s = std::sqrt(1.0f - r1);
            const float lx = static_cast<float>(std::cos(static_cast<double>(phi))) * s;
            const float ly = static_cast<float>(std::sin(static_cast<double>(phi))) * s;
            const float lz = std::sqrt(r1);
            const TVec3 dir = (frame.Row(2) * lz + frame.Row(1) * ly) + frame.Row(0) * lx;
            if (HitsScene(plane, spheres, origin, dir)) occluded += 1.0f;
        }
        const float total = static_cast<float>(aoSamples * aoSamples);
        const float open = (total - occluded) / total;
        colour = {open, open, open};
        return &colour;
    }
};

TEST(AoRenderOverrides, SeeWhatTheScalarKernelGivesWhateverTheyPass) {
    constexpr int kSide = 64;
    TTweakingAo tweaked;
    TScalarTweakingAo reference;
    KavV33D::TBitmap tweakedPicture;
    KavV33D::TBitmap referencePicture;
    for (auto* test : {static_cast<TTweakingAo*>(&tweaked), static_cast<TTweakingAo*>(&reference)}) {
        test->Setup();
        KavV33D::TBitmap& picture = test == &tweaked ? tweakedPicture : referencePicture;
        picture.Create(kSide, kSide, 32);
        test->RenderSingleThread(&picture);
    }
    EXPECT_GT(tweaked.calls, 5000u);
    EXPECT_EQ(tweaked.calls, reference.calls);
    EXPECT_EQ(Pixels(tweakedPicture), Pixels(referencePicture));
    EXPECT_EQ(tweaked.rngStates[0], reference.rngStates[0]);
}

// Draws one number of its own before each estimate.
class TDrawingAo : public TCountingAo {
public:
    TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        NextRandom(slot);
        return TCountingAo::AmbientOcclusion(point, normal, colour, slot);
    }
};

TEST(AoShadingRoutes, AnOverrideRendersTheSamePictureAsTheBaseClass) {
    TTest3DLoop_AmbOccTest_AO base;
    TCountingAo delegating;
    base.Setup();
    delegating.Setup();
    KavV33D::TBitmap first;
    KavV33D::TBitmap second;
    first.Create(64, 48, 32);
    second.Create(64, 48, 32);
    base.RenderSingleThread(&first);
    delegating.RenderSingleThread(&second);
    EXPECT_GT(delegating.calls.load(), 0u);
    EXPECT_EQ(Pixels(first), Pixels(second));
    for (int slot = 0; slot < TTest3DLoop_AmbOccTest_AO::kRandomStateCount; ++slot) {
        EXPECT_EQ(base.rngStates[slot], delegating.rngStates[slot]) << slot;
    }
}

// Every shaded sub-sample reaches the override, and its own draws and the
// estimates' draws come from one sequence: the row's hold on the slot's
// state, which is in the field again once the row is done.
TEST(AoShadingRoutes, AnOverrideSeesEveryCallAndDrawsFromTheRowsSequence) {
    TDrawingAo test;
    test.Setup();
    const std::uint64_t start = test.rngStates[0];
    KavV33D::TBitmap bitmap;
    bitmap.Create(64, 48, 32);
    test.RenderSingleThread(&bitmap);
    const std::uint64_t calls = test.calls.load();
    ASSERT_GT(calls, 0u);
    std::uint64_t expected = start;
    for (std::uint64_t i = 0; i < calls * (2 * 8 * 8 + 1); ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[0], expected);

    // Outside a row an estimate draws straight from the field.
    TVec3 colour;
    test.AmbientOcclusion({0.0f, -0.5f, -1.0f}, {0.0f, 1.0f, 0.0f}, colour, 0);
    for (int i = 0; i < 2 * 8 * 8 + 1; ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[0], expected);
}

}  // namespace
