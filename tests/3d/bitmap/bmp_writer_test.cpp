// Tests of TBitmap::WriteBmp and TBitmap::SaveBmp.
#include "3d/bitmap/bitmap.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/stream/file_stream.h"
#include "tests/base/stream/failing_stream.h"
#include "tests/base/stream/temp_dir.h"
#include "tests/base/stream/write_failures.h"

using KavTest::ReadFileBytes;
using KavTest::TFailingStream;
using KavTest::TTempDir;
using KavV33D::TBitmap;
using Bytes = std::vector<unsigned char>;

namespace {

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

std::uint32_t U16At(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8;
}

// Every pixel's memory bytes are (x, y, 0x80 + x, 0xC0 + y), so each one is
// recognisable in the file.
void FillPattern(TBitmap& b) {
    for (int y = 0; y < b.GetHeight(); ++y) {
        unsigned char* row = b.GetBits() + y * b.GetPitch();
        for (int x = 0; x < b.GetWidth(); ++x) {
            row[4 * x + 0] = static_cast<unsigned char>(x);
            row[4 * x + 1] = static_cast<unsigned char>(y);
            row[4 * x + 2] = static_cast<unsigned char>(0x80 + x);
            row[4 * x + 3] = static_cast<unsigned char>(0xC0 + y);
        }
    }
}

}  // namespace

TEST(TBitmap, SaveBmpWritesTheHeaders) {
    const TTempDir dir;
    const std::string name = dir.File("aomt.bmp");
    TBitmap b;
    b.Create(256, 256, 32);
    FillPattern(b);
    ASSERT_EQ(b.SaveBmp(name.c_str()), 1);

    const Bytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 196662u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32At(file, 2), 196662u);
    EXPECT_EQ(file[2], 0x36);
    EXPECT_EQ(file[3], 0x00);
    EXPECT_EQ(file[4], 0x03);
    EXPECT_EQ(file[5], 0x00);
    EXPECT_EQ(U32At(file, 6), 0u);    // both reserved fields
    EXPECT_EQ(U32At(file, 10), 54u);  // pixel data offset
    EXPECT_EQ(U32At(file, 14), 40u);  // information header size
    EXPECT_EQ(U32At(file, 18), 256u);
    EXPECT_EQ(U32At(file, 22), 256u);
    EXPECT_EQ(U16At(file, 26), 1u);
    EXPECT_EQ(U16At(file, 28), 24u);
    for (std::size_t at = 30; at < 54; ++at) ASSERT_EQ(file[at], 0) << "header byte " << at;

    // Last pixel of the last row: row 255 is the final file row, pixel 255.
    const std::size_t last = 54 + 255 * 768 + 255 * 3;
    EXPECT_EQ(file[last + 0], static_cast<unsigned char>(0x80 + 255));
    EXPECT_EQ(file[last + 1], 255);
    EXPECT_EQ(file[last + 2], 255);
}

TEST(TBitmap, WriteBmpReordersBytesAndPadsRowsWithZeros) {
    TBitmap one;
    one.Create(1, 1, 32);
    const unsigned char pixel[4] = {0x11, 0x22, 0x33, 0x44};
    std::copy(pixel, pixel + 4, one.GetBits());
    TFailingStream s;
    ASSERT_EQ(one.WriteBmp(s), 1);
    ASSERT_EQ(s.bytes.size(), 54u + 4);
    EXPECT_EQ(Bytes(s.bytes.begin() + 54, s.bytes.end()), (Bytes{0x33, 0x22, 0x11, 0x00}));

    // Width 3: rows of 12 bytes, 9 of pixels and 3 of zero padding. The
    // storage bytes are 0xEE so stray bytes would show.
    TBitmap three;
    three.Create(3, 2, 32);
    std::fill(three.GetBits(), three.GetBits() + three.GetStorageSize(), 0xEE);
    TFailingStream t;
    ASSERT_EQ(three.WriteBmp(t), 1);
    ASSERT_EQ(t.bytes.size(), 54u + 2 * 12);
    EXPECT_EQ(U32At(t.bytes, 2), 78u);
    for (std::size_t row = 0; row < 2; ++row) {
        const std::size_t start = 54 + row * 12;
        EXPECT_EQ(
            Bytes(t.bytes.begin() + static_cast<long>(start), t.bytes.begin() + static_cast<long>(start) + 9),
            Bytes(9, 0xEE));
        EXPECT_EQ(Bytes(t.bytes.begin() + static_cast<long>(start) + 9,
                        t.bytes.begin() + static_cast<long>(start) + 12),
                  Bytes(3, 0x00));
    }
}

TEST(TBitmap, WriteBmpStoresRowZeroFirst) {
    TBitmap b;
    b.Create(5, 3, 32);  // stride 16: 15 pixel bytes and one padding byte
    FillPattern(b);
    TFailingStream s;
    ASSERT_EQ(b.WriteBmp(s), 1);
    ASSERT_EQ(s.bytes.size(), 54u + 3 * 16);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const std::size_t at = 54 + static_cast<std::size_t>(y) * 16 + static_cast<std::size_t>(x) * 3;
            ASSERT_EQ(s.bytes[at + 0], 0x80 + x) << x << "," << y;
            ASSERT_EQ(s.bytes[at + 1], y) << x << "," << y;
            ASSERT_EQ(s.bytes[at + 2], x) << x << "," << y;
        }
        ASSERT_EQ(s.bytes[54 + static_cast<std::size_t>(y) * 16 + 15], 0);
    }
    EXPECT_EQ(U32At(s.bytes, 22), 3u);  // positive height: bottom-up
}

TEST(TBitmap, WriteBmpStartsAtTheStreamPosition) {
    const TTempDir dir;
    const std::string name = dir.File("offset.bin");
    TBitmap b;
    b.Create(4, 2, 32);
    FillPattern(b);
    {
        KavV3Base::TFileStream s;
        ASSERT_TRUE(s.Open(name.c_str(), KavV3Base::TFileStream::ModeWrite));
        const Bytes prefix(100, 0x5A);
        ASSERT_EQ(s.Write(prefix.data(), 100), 1);
        ASSERT_EQ(b.WriteBmp(s), 1);
        EXPECT_EQ(s.Tell(), 100 + 54 + 2 * 12);  // left after the picture
        ASSERT_EQ(s.WriteUChar(static_cast<unsigned char>(0x77)), 1);
    }
    const Bytes file = ReadFileBytes(name);
    ASSERT_EQ(file.size(), 100u + 78 + 1);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 100), Bytes(100, 0x5A));
    EXPECT_EQ(file[100], 'B');
    EXPECT_EQ(file[101], 'M');
    EXPECT_EQ(U32At(file, 102), 78u);  // only the picture's own bytes
    EXPECT_EQ(U32At(file, 110), 54u);
    EXPECT_EQ(file[100 + 54], 0x80);  // first pixel of row 0
    EXPECT_EQ(file.back(), 0x77);
}

namespace {

// A bitmap the writer refuses: nothing reaches a stream, and SaveBmp leaves
// no file behind.
void ExpectRefused(TBitmap& bitmap, const char* what) {
    TFailingStream s;
    EXPECT_EQ(bitmap.WriteBmp(s), 0) << what;
    EXPECT_TRUE(s.bytes.empty()) << what;
    const TTempDir dir;
    const std::string name = dir.File("refused.bmp");
    EXPECT_EQ(bitmap.SaveBmp(name.c_str()), 0) << what;
    EXPECT_FALSE(std::filesystem::exists(name)) << what;
}

}  // namespace

TEST(TBitmap, WriteBmpRefusesWhatItCannotConvert) {
    TBitmap sixteen;
    sixteen.Create(4, 4, 16);
    ExpectRefused(sixteen, "16 bits per pixel");

    TBitmap twentyFour;
    twentyFour.CreateWithMasks(4, 4, 24, 0, 0, 0, 0);
    ExpectRefused(twentyFour, "24 bits without masks");

    TBitmap freed;  // geometry without storage
    freed.Create(4, 4, 32);
    freed.Free();
    ExpectRefused(freed, "freed");

    TBitmap never;  // never created: 0 bits per pixel
    ExpectRefused(never, "never created");
}

TEST(TBitmap, WriteBmpOfNoRowsWritesHeadersOnly) {
    TBitmap b;
    b.CreateWithMasks(4, 0, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
    TFailingStream s;
    ASSERT_EQ(b.WriteBmp(s), 1);
    ASSERT_EQ(s.bytes.size(), 54u);
    EXPECT_EQ(U32At(s.bytes, 2), 54u);
    EXPECT_EQ(U32At(s.bytes, 18), 4u);
    EXPECT_EQ(U32At(s.bytes, 22), 0u);
    EXPECT_EQ(s.Tell(), 54);
}

TEST(TBitmap, WriteBmpReportsStreamFailures) {
    TBitmap b;
    b.Create(2, 2, 32);
    FillPattern(b);
    for (int okWrites = 0; okWrites < 12; ++okWrites) {
        TFailingStream s;
        s.writesBeforeFailure = okWrites;  // a header write, the pixels or the patch fails
        EXPECT_EQ(b.WriteBmp(s), 0) << okWrites;
    }
    TFailingStream seekless;
    seekless.failSeek = true;
    EXPECT_EQ(b.WriteBmp(seekless), 0);

    TFailingStream fine;
    fine.writesBeforeFailure = 12;  // exactly the writes a BMP needs
    EXPECT_EQ(b.WriteBmp(fine), 1);
}

TEST(TBitmap, SaveBmpFailsWhenTheFileCannotBeWritten) {
    const TTempDir dir;
    TBitmap b;
    b.Create(2, 2, 32);
    FillPattern(b);
    EXPECT_EQ(b.SaveBmp(dir.File("no_dir/aomt.bmp").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path / "no_dir"));
    EXPECT_EQ(b.SaveBmp(nullptr), 0);
    EXPECT_EQ(b.SaveBmp(""), 0);
    std::filesystem::create_directory(dir.path / "folder");
    EXPECT_EQ(b.SaveBmp(dir.File("folder").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "folder"));

    const std::string device = KavTest::FullDevice();
    if (device.empty())
        GTEST_SKIP()
            << "no device that refuses writes; SaveBmpThatFailsPartWayLeavesTheEarlierFile covers it";
    EXPECT_EQ(b.SaveBmp(device.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_character_file(device)) << "a device is written, never replaced";
}

// A disk that fills up part-way, in the headers, in the pixels or at the
// last byte: the earlier picture stays as it was and nothing lies beside it.
TEST(TBitmap, SaveBmpThatFailsPartWayLeavesTheEarlierFile) {
    const TTempDir dir;
    const std::string name = dir.File("aomt.bmp");
    TBitmap b;
    b.Create(16, 16, 32);
    FillPattern(b);
    const std::int64_t whole = 54 + 16 * 48;
    KavTest::WriteFileBytes(name, "earlier picture");
    for (std::int64_t fits : {std::int64_t{0}, std::int64_t{1}, std::int64_t{14}, std::int64_t{54},
                              std::int64_t{400}, whole - 1}) {
        {
            const KavTest::TFileWriteLimit limit(fits);
            EXPECT_EQ(b.SaveBmp(name.c_str()), 0) << fits;
        }
        const Bytes content = ReadFileBytes(name);
        EXPECT_EQ(std::string(content.begin(), content.end()), "earlier picture") << fits;
        EXPECT_EQ(KavTest::FolderContent(dir.path), std::vector<std::string>{"aomt.bmp"}) << fits;
    }
    EXPECT_EQ(b.SaveBmp(name.c_str()), 1);
    const Bytes content = ReadFileBytes(name);
    ASSERT_EQ(content.size(), static_cast<std::size_t>(whole));
    EXPECT_EQ(U32At(content, 2), static_cast<std::uint32_t>(whole));
    EXPECT_EQ(KavTest::FolderContent(dir.path), std::vector<std::string>{"aomt.bmp"});
}

// On a stream that cannot grow past some length, as a full disk, the size
// field is not patched to the truncated length: a cut-off picture never
// looks whole.
TEST(TBitmap, WriteBmpCutShortLeavesTheSizeFieldUnpatched) {
    TBitmap b;
    b.Create(4, 4, 32);
    FillPattern(b);
    for (std::int64_t limit : {6, 30, 54, 60, 101}) {
        TFailingStream s;
        s.sizeLimit = limit;
        EXPECT_EQ(b.WriteBmp(s), 0) << limit;
        ASSERT_EQ(s.bytes.size(), static_cast<std::size_t>(limit)) << limit;
        EXPECT_EQ(U32At(s.bytes, 2), 0u) << limit;
    }
}

// A height below zero would give a file that no reader accepts.
class TNegativeHeightBitmap : public TBitmap {
public:
    int GetHeight() const override { return -2; }
};

TEST(TBitmap, WriteBmpRefusesANegativeHeight) {
    TNegativeHeightBitmap b;
    b.Create(4, 2, 32);
    ExpectRefused(b, "negative height");
}
