// Tests of the bitmaps' place in the object model: class records, and TBitmap's saving and loading in both
// codings.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "3d/bitmap/bitmap.h"
#include "base/sl/archive.h"
#include "base/sl/object_graph.h"
#include "base/stream/memory_stream.h"

namespace {

using namespace KavV3Base;
using KavV33D::TBitmap;
using KavV33D::TVBitmap;

std::string Text(const TMemoryStream& stream) {
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

TEST(TBitmap, ClassRecordsChainUpToTheSerializableRoot) {
    TBitmap bitmap;
    TVBitmap plain;
    const TSLClassRecord* record = bitmap.GetClassRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record, TBitmap::ClassRecord());
    EXPECT_EQ(record->Name, TString("TBitmap"));
    EXPECT_EQ(record->Base, plain.GetClassRecord());
    EXPECT_EQ(record->Base->Name, TString("TVBitmap"));
    EXPECT_EQ(record->Base->Base, TKavSL::ClassRecord());

    const std::unique_ptr<TKavSLRoot> made(record->Factory());
    auto* madeBitmap = dynamic_cast<TBitmap*>(made.get());
    ASSERT_NE(madeBitmap, nullptr);
    EXPECT_EQ(madeBitmap->GetBits(), nullptr);
    EXPECT_EQ(madeBitmap->GetWidth(), 0);
    const std::unique_ptr<TKavSLRoot> madePlain(record->Base->Factory());
    EXPECT_EQ(madePlain->GetClassRecord(), TVBitmap::ClassRecord());
}

TEST(TBitmap, TextSaveIsOneLinePerValue) {
    TBitmap bitmap;
    bitmap.Create(2, 1, 32);
    const unsigned char pixels[8] = {0, 1, 2, 127, 128, 200, 254, 255};
    std::memcpy(bitmap.GetBits(), pixels, sizeof pixels);
    TMemoryStream stream;
    TSLArchive archive(&stream, TSLArchive::CodingText);
    bitmap.Save(archive);
    EXPECT_EQ(Text(stream),
              "8\n0\n1\n2\n127\n128\n200\n254\n255\n"
              "2\n1\n32\n8\n0\n"
              "16711680\n65280\n255\n4278190080\n");

    TVBitmap plain;
    TMemoryStream empty;
    TSLArchive plainArchive(&empty, TSLArchive::CodingText);
    plain.Save(plainArchive);
    EXPECT_EQ(empty.Size(), 0u);
}

TEST(TBitmap, SavedGraphLoadsBackInBothCodings) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
        TBitmap source;
        source.CreateWithMasks(3, 2, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
        for (std::uint32_t i = 0; i < source.GetStorageSize(); ++i)
            source.GetBits()[i] = static_cast<unsigned char>(i * 37);
        TMemoryStream stream;
        TSLArchive saving(&stream, coding);
        TBitmap* sourceRef = &source;
        ASSERT_TRUE(SLSaveObject(saving, &sourceRef));
        if (coding == TSLArchive::CodingBinary) {
            // Header (tag, name, id, identity), then 4 + 12 + 5 * 4 + 4 * 4 bytes.
            EXPECT_EQ(stream.Size(), 4u + 8u + 4u + 4u + 52u);
        }

        stream.Seek(0);
        TSLArchive loading(&stream, coding);
        TBitmap* loaded = nullptr;
        ASSERT_TRUE(SLLoadObject(loading, &loaded));
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->GetWidth(), 3);
        EXPECT_EQ(loaded->GetHeight(), 2);
        EXPECT_EQ(loaded->GetBitsPerPixel(), 16);
        EXPECT_EQ(loaded->GetPitch(), 6);
        EXPECT_EQ(loaded->GetRedMask(), 0x0F00u);
        EXPECT_EQ(loaded->GetGreenMask(), 0x00F0u);
        EXPECT_EQ(loaded->GetBlueMask(), 0x000Fu);
        EXPECT_EQ(loaded->GetAlphaMask(), 0xF000u);
        ASSERT_EQ(loaded->GetStorageSize(), 12u);
        EXPECT_EQ(std::memcmp(loaded->GetBits(), source.GetBits(), 12), 0);
        delete loaded;
    }
}

TEST(TBitmap, LoadReplacesStorageAndTakesPitchAsSaved) {
    TMemoryStream stream;
    const std::string archive = "3\n9\n8\n7\n1\n3\n8\n99\n-4\n1\n2\n3\n4\n";
    stream.Write(archive.data(), static_cast<std::uint32_t>(archive.size()));
    stream.Seek(0);
    TSLArchive loading(&stream, TSLArchive::CodingText);
    TBitmap bitmap;
    bitmap.Create(16, 16, 32);
    bitmap.Load(loading);
    ASSERT_FALSE(loading.Failed());
    ASSERT_EQ(bitmap.GetStorageSize(), 3u);
    EXPECT_EQ(bitmap.GetBits()[0], 9);
    EXPECT_EQ(bitmap.GetBits()[2], 7);
    EXPECT_EQ(bitmap.GetWidth(), 1);
    EXPECT_EQ(bitmap.GetPitch(), 99);
    EXPECT_EQ(bitmap.GetAlphaMask(), 4u);
}

TEST(TBitmap, HostileByteCountFailsWithoutTouchingTheStorage) {
    // A count of four billion followed by a few bytes.
    const std::string bytes(
        "\x00\x28\x6b\xee"
        "\x01\x02\x03",
        7);
    TMemoryStream stream(bytes.data(), bytes.size());
    TSLArchive loading(&stream, TSLArchive::CodingBinary);
    TBitmap bitmap;
    bitmap.Create(2, 2, 32);
    unsigned char* const before = bitmap.GetBits();
    bitmap.Load(loading);
    EXPECT_TRUE(loading.Failed());
    EXPECT_EQ(bitmap.GetBits(), before);
    EXPECT_EQ(bitmap.GetStorageSize(), 16u);
    EXPECT_EQ(bitmap.GetWidth(), 2);
}

}  // namespace
