// Tests of the whole-picture renders: the single-threaded render's determinism
// and random-state bookkeeping, and the row jobs of the multi-threaded render.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "3d/bitmap/bitmap.h"
#include "app/ao_render.h"

namespace {

using namespace AoBench;

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

// Counts the shaded sub-samples while shading as usual.
// The bytes of a whole file; empty when it cannot be read.
std::vector<unsigned char> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// For a picture whose digest is not the expected one: saves it beside the
// test (its path is in the message) and says how many pixels differ from
// the reference picture kept with the tests, and where. Both are 24-bit BMP
// files of the picture, row 0 first, 54 header bytes and no row padding.
std::string DescribeDifference(KavV33D::TBitmap& got) {
    const std::filesystem::path gotPath = std::filesystem::absolute("ao_single_thread_got.bmp");
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

class AoRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        bitmap.Create(kSize, kSize, 32);
        test.Setup();
    }
    KavV33D::TBitmap bitmap;
    TCountingAo test;
};

TEST_F(AoRenderTest, SingleThreadIsDeterministicAndAdvancesSlotZeroOnly) {
    const std::uint64_t start = test.rngStates[0];
    test.RenderSingleThread(&bitmap);
    const std::vector<std::uint32_t> first = Pixels(bitmap);
    EXPECT_EQ(test.calls.load(), kShadedSubSamples);

    std::uint64_t expected = start;
    for (std::uint64_t i = 0; i < kShadedSubSamples * kStepsPerSubSample; ++i) StepRandom(expected);
    EXPECT_EQ(test.rngStates[0], expected);
    for (int slot = 1; slot < 8; ++slot) {
        TTest3DLoop_AmbOccTest_AO fresh;
        fresh.Setup();
        EXPECT_EQ(test.rngStates[slot], fresh.rngStates[slot]) << slot;
    }

    for (std::uint32_t pixel : first) EXPECT_EQ(pixel >> 24, 0xFFu);

    // The single-threaded picture is part of the benchmark's contract: any
    // change to the kernel's arithmetic or draw order changes this digest.
    EXPECT_EQ(PictureDigest(bitmap, kSize), kPictureDigest) << DescribeDifference(bitmap);
    EXPECT_EQ(test.rngStates[0], kFinalSlotZeroState);
}

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

}  // namespace
