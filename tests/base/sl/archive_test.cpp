// Tests of the archive's value coders in text and binary coding, and of how they reject malformed input.

#include "base/sl/archive.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "3d/bitmap/algn_vec.h"
#include "base/stream/memory_stream.h"
#include "tests/base/sl/sl_test_util.h"

namespace {

using namespace KavV3Base;
using KavTest::AsBytes;
using KavTest::AsText;

// Runs write on a fresh archive of the given coding and returns the bytes.
template <class F>
std::string Written(std::int32_t coding, F write) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    write(archive);
    return AsText(stream.Bytes());
}

TEST(TSLArchive, TextNumbersAreDecimalLines) {
    const std::string text = Written(TSLArchive::CodingText, [](TSLArchive& archive) {
        const std::int32_t minusFive = -5;
        const std::uint32_t big = 4000000000u;
        const std::uint8_t byte = 255;
        const std::uint32_t size = 4294967295u;
        SLWriteInt(archive, &minusFive);
        SLWriteUInt(archive, &big);
        SLWriteByte(archive, &byte);
        SLWriteSize(archive, &size);
    });
    EXPECT_EQ(text, "-5\n4000000000\n255\n4294967295\n");
}

TEST(TSLArchive, BinaryValuesAreRawLittleEndian) {
    const std::string bytes = Written(TSLArchive::CodingBinary, [](TSLArchive& archive) {
        const std::int32_t one = 1;
        const std::uint32_t masks = 0xFF000000u;
        const std::uint8_t seven = 7;
        const std::uint32_t size = 0x01020304u;
        const TString empty("");
        const TString ab("ab");
        SLWriteInt(archive, &one);
        SLWriteUInt(archive, &masks);
        SLWriteByte(archive, &seven);
        SLWriteSize(archive, &size);
        SLWriteString(archive, &empty);
        SLWriteString(archive, &ab);
    });
    EXPECT_EQ(bytes, std::string("\x01\0\0\0"
                                 "\0\0\0\xff"
                                 "\x07"
                                 "\x04\x03\x02\x01"
                                 "\0"
                                 "ab\0",
                                 17));
}

TEST(TSLArchive, TextStringsAreQuotedAndEscaped) {
    struct TCase {
        std::string value;
        std::string coded;
    };
    const std::vector<TCase> cases = {
        {"", "\"\"\n"},
        {"a\"\\", "\"a\\\"\\\\\"\n"},
        {"x\\", "\"x\\\\\"\n"},
        {"two\nlines", "\"two\nlines\"\n"},
        {"\\\"", "\"\\\\\\\"\"\n"},
    };
    for (const TCase& c : cases) {
        const TString value = TString::FromBytes(c.value.data(), c.value.size());
        const std::string coded =
            Written(TSLArchive::CodingText, [&](TSLArchive& archive) { SLWriteString(archive, &value); });
        EXPECT_EQ(coded, c.coded);

        TMemoryStream stream(coded.data(), coded.size());
        TSLArchive archive(&stream, TSLArchive::CodingText);
        TString read("old");
        SLReadString(archive, &read);
        EXPECT_FALSE(archive.Failed());
        EXPECT_EQ(std::string(read.CStr(), read.Length()), c.value);
        ASSERT_NE(read.CStr(), nullptr);
    }
}

TEST(TSLArchive, TextNumbersParseLikeScanf) {
    TMemoryStream stream(AsBytes(" -12abc\n+7\n4294967295\n-1\n300\n99999999999999999999\n12\r\n"));
    TSLArchive archive(&stream, TSLArchive::CodingText);
    std::int32_t i = 0;
    std::uint32_t u = 0;
    std::uint8_t byte = 0;
    SLReadInt(archive, &i);
    EXPECT_EQ(i, -12);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 7);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, -1);
    SLReadUInt(archive, &u);
    EXPECT_EQ(u, 4294967295u);
    SLReadByte(archive, &byte);
    EXPECT_EQ(byte, 44);
    SLReadSize(archive, &u);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 12);
    EXPECT_FALSE(archive.Failed());
}

TEST(TSLArchive, TextNumberLinesAreConsumedWholeWhateverFollowsTheDigits) {
    // The rest of a line after its number is read and dropped, NULs included;
    // the next number starts on the next line.
    const char lines[] = "7 8\n\t+0012x\n-9223372036854775809\n5\0009\n-0\n";
    TMemoryStream stream(AsBytes(std::string(lines, sizeof lines - 1)));
    TSLArchive archive(&stream, TSLArchive::CodingText);
    std::int32_t i = 0;
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 7);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 12);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 0);  // saturated at INT64_MIN, whose low 32 bits are 0
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 5);
    SLReadInt(archive, &i);
    EXPECT_EQ(i, 0);
    EXPECT_FALSE(archive.Failed());
    EXPECT_EQ(static_cast<std::size_t>(stream.Tell()), stream.Bytes().size());
}

TEST(TSLArchive, TextNumbersNeedADigitRightAfterTheSign) {
    for (const char* line : {"+ 5\n", " \t \n", "--1\n", "x1\n"}) {
        SCOPED_TRACE(line);
        TMemoryStream stream(AsBytes(line));
        TSLArchive archive(&stream, TSLArchive::CodingText);
        std::int32_t i = 42;
        SLReadInt(archive, &i);
        EXPECT_TRUE(archive.Failed());
        EXPECT_EQ(i, 42);
    }
}

TEST(TSLArchive, BothCodingsReadBackWhatTheyWrote) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
        const std::int32_t i = INT32_MIN;
        const std::uint32_t u = 0xDEADBEEFu;
        const std::uint8_t byte = 0;
        const TString s("name \"quoted\" \\ end");
        TMemoryStream stream;
        TSLArchive out(&stream, coding);
        SLWriteInt(out, &i);
        SLWriteUInt(out, &u);
        SLWriteByte(out, &byte);
        SLWriteSize(out, &u);
        SLWriteString(out, &s);

        stream.Seek(0);
        TSLArchive in(&stream, coding);
        std::int32_t i2 = 0;
        std::uint32_t u2 = 0;
        std::uint32_t size2 = 0;
        std::uint8_t byte2 = 9;
        TString s2;
        SLReadInt(in, &i2);
        SLReadUInt(in, &u2);
        SLReadByte(in, &byte2);
        SLReadSize(in, &size2);
        SLReadString(in, &s2);
        EXPECT_FALSE(in.Failed());
        EXPECT_EQ(i2, i);
        EXPECT_EQ(u2, u);
        EXPECT_EQ(byte2, byte);
        EXPECT_EQ(size2, u);
        EXPECT_EQ(s2, s);
        EXPECT_EQ(stream.Tell(), static_cast<std::int32_t>(stream.Size()));
    }
}

TEST(TSLArchive, UnknownCodingTouchesNeitherStreamNorTarget) {
    const std::int32_t value = 5;
    TMemoryStream stream(AsBytes("7\n"));
    TSLArchive archive(&stream, 2);
    SLWriteInt(archive, &value);
    std::int32_t target = 3;
    SLReadInt(archive, &target);
    EXPECT_EQ(target, 3);
    EXPECT_EQ(stream.Size(), 2u);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_FALSE(archive.Failed());
}

TEST(TSLArchive, MalformedInputFailsTheArchiveAndLeavesTheTarget) {
    struct TCase {
        std::int32_t coding;
        std::string input;
        bool readString;
    };
    const std::vector<TCase> cases = {
        {TSLArchive::CodingText, "", false},
        {TSLArchive::CodingText, "\n", false},
        {TSLArchive::CodingText, "abc\n", false},
        {TSLArchive::CodingText, "-\n", false},
        {TSLArchive::CodingText, "12", false},
        {TSLArchive::CodingText, "", true},
        {TSLArchive::CodingText, "\"abc", true},
        {TSLArchive::CodingText, "\"abc\\\"\n", true},
        {TSLArchive::CodingText, "\"abc\"", true},
        {TSLArchive::CodingText, "\"ab\\", true},
        {TSLArchive::CodingBinary, "\x01\x02\x03", false},
        {TSLArchive::CodingBinary, "abc", true},
        {TSLArchive::CodingBinary, "", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.input);
        TMemoryStream stream(AsBytes(c.input));
        TSLArchive archive(&stream, c.coding);
        std::int32_t number = 42;
        TString text("kept");
        if (c.readString)
            SLReadString(archive, &text);
        else
            SLReadInt(archive, &number);
        EXPECT_TRUE(archive.Failed());
        EXPECT_EQ(number, 42);
        EXPECT_EQ(text, TString("kept"));

        // A failed archive moves nothing any more, in either direction.
        const std::uint32_t position = static_cast<std::uint32_t>(stream.Tell());
        SLWriteInt(archive, &number);
        SLReadInt(archive, &number);
        EXPECT_EQ(static_cast<std::uint32_t>(stream.Tell()), position);
        EXPECT_EQ(stream.Size(), c.input.size());
    }
}

// A memory stream that cannot tell its position, so readers cannot check
// counts against the bytes left.
class TUntellingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::int32_t Tell() override { return -1; }
};

TEST(TSLArchive, AlignedVectorRoundTripsAndRejectsCountsBeyondTheStream) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
        TAlgnVec<unsigned char> source;
        source.Resize(5);
        for (unsigned char i = 0; i < 5; ++i) source.Data()[i] = static_cast<unsigned char>(250 + i);
        TMemoryStream stream;
        TSLArchive out(&stream, coding);
        SLWriteAlgnVec(out, &source);
        if (coding == TSLArchive::CodingText) {
            EXPECT_EQ(AsText(stream.Bytes()), "5\n250\n251\n252\n253\n254\n");
        }

        stream.Seek(0);
        TSLArchive in(&stream, coding);
        TAlgnVec<unsigned char> target;
        target.Resize(2);
        SLReadAlgnVec(in, &target);
        ASSERT_FALSE(in.Failed());
        ASSERT_EQ(target.Size(), 5u);
        for (unsigned char i = 0; i < 5; ++i) EXPECT_EQ(target.Data()[i], 250 + i);
    }

    // A count of four billion with four bytes behind it, once from a stream
    // that can tell its size and once from one that cannot: both fail without
    // touching the vector.
    const std::string hostile(
        "\x00\x28\x6b\xee"
        "abcd",
        8);
    TMemoryStream telling(hostile.data(), hostile.size());
    TUntellingStream untelling(hostile.data(), hostile.size());
    for (TStream* stream : {static_cast<TStream*>(&telling), static_cast<TStream*>(&untelling)}) {
        TSLArchive in(stream, TSLArchive::CodingBinary);
        TAlgnVec<unsigned char> target;
        target.Resize(3);
        SLReadAlgnVec(in, &target);
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(target.Size(), 3u);
    }
}

}  // namespace
