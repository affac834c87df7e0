#include "3d/bitmap/algn_vec.h"

#include <cstdint>

#include <gtest/gtest.h>

using KavV3Base::TAlgnVec;

namespace {

bool Aligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

}  // namespace

TEST(TAlgnVec, EveryBlockIsAlignedAndExactlySized) {
    TAlgnVec<unsigned char> v;
    EXPECT_EQ(v.Data(), nullptr);
    EXPECT_EQ(v.Size(), 0u);

    // Many sizes, so that the raw blocks start at many different offsets;
    // the sanitizer checks that each release frees the block it allocated.
    for (std::uint32_t n = 0; n < 100; ++n) {
        v.Resize(n);
        ASSERT_NE(v.Data(), nullptr) << n;
        ASSERT_TRUE(Aligned16(v.Data())) << n;
        ASSERT_EQ(v.Size(), n);
        ASSERT_EQ(v.Capacity(), n);
        for (std::uint32_t i = 0; i < n; ++i)
            v.Data()[i] = static_cast<unsigned char>(i);  // every byte is writable
    }

    v.Release();
    EXPECT_EQ(v.Data(), nullptr);
    EXPECT_EQ(v.Size(), 0u);
    EXPECT_EQ(v.Capacity(), 0u);
    v.Release();  // releasing twice is harmless

    v.Resize(0);
    EXPECT_NE(v.Data(), nullptr);
    EXPECT_TRUE(Aligned16(v.Data()));
}

TEST(TAlgnVec, ResizeKeepsTheCommonPrefix) {
    TAlgnVec<unsigned char> v;
    v.Resize(10);
    for (int i = 0; i < 10; ++i) v.Data()[i] = static_cast<unsigned char>(0xA0 + i);

    v.Resize(40);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(v.Data()[i], 0xA0 + i) << i;

    v.Resize(4);
    EXPECT_EQ(v.Size(), 4u);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(v.Data()[i], 0xA0 + i) << i;

    v.Resize(4);  // the same size still keeps the bytes
    for (int i = 0; i < 4; ++i) ASSERT_EQ(v.Data()[i], 0xA0 + i) << i;
}

TEST(TAlgnVec, WiderElementsAreSizedInElements) {
    TAlgnVec<std::uint32_t> v;
    v.Resize(3);
    v.Data()[0] = 0x11111111;
    v.Data()[2] = 0x33333333;
    v.Resize(5);
    EXPECT_EQ(v.Size(), 5u);
    EXPECT_TRUE(Aligned16(v.Data()));
    EXPECT_EQ(v.Data()[0], 0x11111111u);
    EXPECT_EQ(v.Data()[2], 0x33333333u);
    v.Data()[4] = 0x55555555;  // the last element is inside the block
}
