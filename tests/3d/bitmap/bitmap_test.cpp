#include "3d/bitmap/bitmap.h"
#include "tests/support/system_skips.h"

#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

using KavV33D::TBitmap;
using KavV33D::TVBitmap;

namespace {

bool Aligned16(const void* p) { return p != nullptr && reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

struct TGeometry {
    unsigned char* bits;
    int width, height, bitsPerPixel, pitch;
    std::uint32_t red, green, blue, alpha, storage;

    bool operator==(const TGeometry&) const = default;
};

TGeometry GeometryOf(TBitmap& b) {
    return {b.GetBits(),    b.GetWidth(),     b.GetHeight(),   b.GetBitsPerPixel(), b.GetPitch(),
            b.GetRedMask(), b.GetGreenMask(), b.GetBlueMask(), b.GetAlphaMask(),    b.GetStorageSize()};
}

}  // namespace

TEST(TBitmap, StartsEmpty) {
    TBitmap b;
    EXPECT_EQ(GeometryOf(b), (TGeometry{nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    TVBitmap bare;
    EXPECT_EQ(bare.GetBits(), nullptr);
    EXPECT_EQ(bare.GetWidth(), 0);
    EXPECT_EQ(bare.GetHeight(), 0);
    EXPECT_EQ(bare.GetBitsPerPixel(), 0);
    EXPECT_EQ(bare.GetPitch(), 0);
    EXPECT_EQ(bare.GetRedMask() | bare.GetGreenMask() | bare.GetBlueMask() | bare.GetAlphaMask(), 0u);
}

TEST(TBitmap, CreateGivesGeometryAndDefaultMasks) {
    TBitmap b;
    b.Create(256, 256, 32);
    EXPECT_EQ(b.GetPitch(), 1024);
    EXPECT_EQ(b.GetStorageSize(), 262144u);
    EXPECT_EQ(b.GetRedMask(), 0x00FF0000u);
    EXPECT_EQ(b.GetGreenMask(), 0x0000FF00u);
    EXPECT_EQ(b.GetBlueMask(), 0x000000FFu);
    EXPECT_EQ(b.GetAlphaMask(), 0xFF000000u);
    EXPECT_TRUE(Aligned16(b.GetBits()));
    b.GetBits()[262143] = 1;  // the last byte is inside the storage

    b.Create(3, 2, 16);
    EXPECT_EQ(GeometryOf(b), (TGeometry{b.GetBits(), 3, 2, 16, 6, 0x0F00, 0x00F0, 0x000F, 0xF000, 12}));
    EXPECT_TRUE(Aligned16(b.GetBits()));
}

TEST(TBitmap, CreateRefusesOtherDepths) {
    TBitmap empty;
    empty.Create(10, 10, 24);
    empty.Create(10, 10, 8);
    EXPECT_EQ(GeometryOf(empty), (TGeometry{nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    TBitmap created;
    created.Create(4, 4, 32);
    created.GetBits()[0] = 0x5A;
    const TGeometry before = GeometryOf(created);
    created.Create(10, 10, 24);
    created.Create(10, 10, 8);
    created.Create(10, 10, 0);
    EXPECT_EQ(GeometryOf(created), before);
    EXPECT_EQ(created.GetBits()[0], 0x5A);
}

TEST(TBitmap, CreateWithMasksTakesAnyDepthWithoutRowRounding) {
    TBitmap b;
    b.CreateWithMasks(5, 1, 24, 1, 2, 3, 4);
    EXPECT_EQ(GeometryOf(b), (TGeometry{b.GetBits(), 5, 1, 24, 15, 1, 2, 3, 4, 15}));
    EXPECT_TRUE(Aligned16(b.GetBits()));

    // A zero-byte picture still has aligned storage.
    b.CreateWithMasks(0, 7, 32, 0, 0, 0, 0);
    EXPECT_EQ(b.GetStorageSize(), 0u);
    EXPECT_EQ(b.GetPitch(), 0);
    EXPECT_EQ(b.GetHeight(), 7);
    EXPECT_TRUE(Aligned16(b.GetBits()));
}

TEST(TBitmap, FreeKeepsTheGeometry) {
    TBitmap b;
    b.Create(256, 128, 32);
    b.Free();
    EXPECT_EQ(GeometryOf(b),
              (TGeometry{nullptr, 256, 128, 32, 1024, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 0}));
    b.Free();
    EXPECT_EQ(b.GetBits(), nullptr);

    b.Create(2, 2, 32);  // a freed bitmap can be created again
    EXPECT_TRUE(Aligned16(b.GetBits()));
    EXPECT_EQ(b.GetStorageSize(), 16u);
}

TEST(TBitmap, RefusesNegativeAndOverflowingSizes) {
    TBitmap b;
    b.Create(4, 4, 32);
    for (int i = 0; i < 64; ++i) b.GetBits()[i] = static_cast<unsigned char>(i);
    const TGeometry before = GeometryOf(b);

    b.CreateWithMasks(-1, 4, 32, 1, 1, 1, 1);
    b.CreateWithMasks(4, -1, 32, 1, 1, 1, 1);
    b.CreateWithMasks(4, 4, -32, 1, 1, 1, 1);
    b.Create(-4, 4, 32);
    b.Create(65536, 65536, 32);  // wraps to 0 in 32-bit arithmetic
    b.Create(65536, 16384, 16);  // 2^34 bits
    b.CreateWithMasks(INT_MAX, 1, 8, 1, 1, 1, 1);
    b.CreateWithMasks(INT_MAX / 2, 0, 32, 1, 1, 1, 1);  // no bytes, but a row pitch that cannot be held
    b.CreateWithMasks(INT_MAX, INT_MAX, INT_MAX, 1, 1, 1, 1);

    EXPECT_EQ(GeometryOf(b), before);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(b.GetBits()[i], i) << i;
}

TEST(TBitmap, RecreatingReplacesStorageAndGeometry) {
    TBitmap b;
    b.Create(2, 2, 32);
    b.Create(8, 3, 16);
    EXPECT_EQ(GeometryOf(b), (TGeometry{b.GetBits(), 8, 3, 16, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, 48}));
    b.GetBits()[47] = 0xFF;
}

TEST(TVBitmap, PixelOperationsPrintTheirArguments) {
    KAV_REQUIRE_STDOUT_CAPTURE();
    TVBitmap bare;
    testing::internal::CaptureStdout();
    bare.SetPixel(3, 4, 255, 0, 128, 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x = 3\ny = 4\nr = 255\ng = 0\nb = 128\na = 7\n");

    testing::internal::CaptureStdout();
    const std::uint8_t blue = bare.GetPixelBlue(-1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x = -1\ny = 0\n");
    EXPECT_EQ(blue, 0);

    testing::internal::CaptureStdout();
    const int sum = bare.GetPixelRed(1, 2) + bare.GetPixelGreen(3, 4) + bare.GetPixelAlpha(INT_MIN, INT_MAX);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "x = 1\ny = 2\nx = 3\ny = 4\nx = -2147483648\ny = 2147483647\n");
    EXPECT_EQ(sum, 0);
}

TEST(TBitmap, PixelOperationsAreSilent) {
    KAV_REQUIRE_STDOUT_CAPTURE();
    TBitmap concrete;
    concrete.Create(8, 8, 32);
    TVBitmap& b = concrete;
    testing::internal::CaptureStdout();
    b.SetPixel(3, 4, 255, 0, 128, 7);
    const int sum =
        b.GetPixelRed(0, 0) + b.GetPixelGreen(0, 0) + b.GetPixelBlue(-1, 0) + b.GetPixelAlpha(0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(sum, 0);
}
