// Tests of the archive's value coders: one body for both codings where the coders behave alike, the text
// coding's own parse and escape rules, and the rejection of malformed input.

#include "base/sl/archive.h"

#include <cstdint>
#include <functional>
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
using KavTest::TCoded;

// Runs write on a fresh archive of the given coding and returns the bytes.
template <class F>
std::string Written(std::int32_t coding, F write) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    write(archive);
    EXPECT_FALSE(archive.Failed()) << archive.GetFailureMessage();
    return AsText(stream.Bytes());
}

TString Text(const std::string& s) { return TString::FromBytes(s.data(), s.size()); }

class TSLValueCoders : public ::testing::TestWithParam<std::int32_t> {
protected:
    bool IsText() const { return GetParam() == TSLArchive::CodingText; }
    TCoded Coded() const { return TCoded(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Codings, TSLValueCoders,
                         ::testing::Values(TSLArchive::CodingText, TSLArchive::CodingBinary),
                         [](const auto& p) { return p.param == TSLArchive::CodingText ? "Text" : "Binary"; });

// One value of one coder pair: how to write it, how to read it back and
// compare, and its exact bytes in each coding.
struct TValueCase {
    const char* name;
    std::function<void(TSLArchive&)> write;
    // Reads the value into a target that starts as `untouched`; true when
    // the target then holds the written value (or, after a failed read,
    // still holds `untouched`).
    std::function<bool(TSLArchive&, bool expectWritten)> read;
    std::string text;
    std::string binary;
};

template <class T, void (*Write)(TSLArchive&, const T*), void (*Read)(TSLArchive&, T*)>
TValueCase Case(const char* name, T value, T untouched, std::string text, std::string binary) {
    return {name, [value](TSLArchive& a) { Write(a, &value); },
            [value, untouched](TSLArchive& a, bool expectWritten) {
                T target = untouched;
                Read(a, &target);
                return target == (expectWritten ? value : untouched);
            },
            std::move(text), std::move(binary)};
}

std::vector<TValueCase> ValueCases() {
    using std::string;
    return {
        Case<std::int32_t, SLWriteInt, SLReadInt>("int -5", -5, 42, "-5\n", string("\xfb\xff\xff\xff", 4)),
        Case<std::int32_t, SLWriteInt, SLReadInt>("int 1", 1, 42, "1\n", string("\x01\0\0\0", 4)),
        Case<std::int32_t, SLWriteInt, SLReadInt>("int min", INT32_MIN, 42, "-2147483648\n",
                                                  string("\0\0\0\x80", 4)),
        Case<std::uint32_t, SLWriteUInt, SLReadUInt>("uint mask", 0xFF000000u, 42, "4278190080\n",
                                                     string("\0\0\0\xff", 4)),
        Case<std::uint32_t, SLWriteUInt, SLReadUInt>("uint max", UINT32_MAX, 42, "4294967295\n",
                                                     string("\xff\xff\xff\xff", 4)),
        Case<std::uint8_t, SLWriteByte, SLReadByte>("byte 255", 255, 42, "255\n", "\xff"),
        Case<std::uint8_t, SLWriteByte, SLReadByte>("byte 7", 7, 42, "7\n", "\x07"),
        Case<std::uint8_t, SLWriteByte, SLReadByte>("byte 0", 0, 42, "0\n", string("\0", 1)),
        Case<std::uint32_t, SLWriteSize, SLReadSize>("size max", 4294967295u, 42, "4294967295\n",
                                                     string("\xff\xff\xff\xff", 4)),
        Case<std::uint32_t, SLWriteSize, SLReadSize>("size", 0x01020304u, 42, "16909060\n",
                                                     string("\x04\x03\x02\x01", 4)),
        Case<TString, SLWriteString, SLReadString>("empty string", TString(""), TString("kept"), "\"\"\n",
                                                   string("\0", 1)),
        Case<TString, SLWriteString, SLReadString>("string", TString("ab"), TString("kept"), "\"ab\"\n",
                                                   string("ab\0", 3)),
        // A quote and a backslash are escaped in text, and the escaped
        // backslash before the closing quote does not escape it.
        Case<TString, SLWriteString, SLReadString>("quote and backslash", Text("a\"\\"), TString("kept"),
                                                   "\"a\\\"\\\\\"\n", string("a\"\\\0", 4)),
        Case<TString, SLWriteString, SLReadString>("ends in a backslash", Text("x\\"), TString("kept"),
                                                   "\"x\\\\\"\n", string("x\\\0", 3)),
        // Nothing else is escaped: the string spans two text lines.
        Case<TString, SLWriteString, SLReadString>("two lines", Text("two\nlines"), TString("kept"),
                                                   "\"two\nlines\"\n", string("two\nlines\0", 10)),
    };
}

TEST_P(TSLValueCoders, EachValueHasItsExactBytes) {
    for (const TValueCase& c : ValueCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Written(GetParam(), c.write), IsText() ? c.text : c.binary);
    }
}

TEST_P(TSLValueCoders, EachValueReadsBackAndTheReadEndsAtItsLastByte) {
    for (const TValueCase& c : ValueCases()) {
        SCOPED_TRACE(c.name);
        const std::string bytes = IsText() ? c.text : c.binary;
        TMemoryStream stream(bytes.data(), bytes.size());
        TSLArchive archive(&stream, GetParam());
        EXPECT_TRUE(c.read(archive, true));
        EXPECT_FALSE(archive.Failed()) << archive.GetFailureMessage();
        EXPECT_EQ(static_cast<std::size_t>(stream.Tell()), bytes.size());
    }
}

TEST_P(TSLValueCoders, EveryValueCutShortFailsAndLeavesTheTarget) {
    for (const TValueCase& c : ValueCases()) {
        const std::string bytes = IsText() ? c.text : c.binary;
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(std::string(c.name) + ", cut to " + std::to_string(length));
            TMemoryStream stream(bytes.data(), length);
            TSLArchive archive(&stream, GetParam());
            EXPECT_TRUE(c.read(archive, false));
            EXPECT_EQ(archive.GetFailure(), TSLFailure::EndOfStream);
        }
    }
}

TEST_P(TSLValueCoders, ValuesInARowReadBackInOrder) {
    const std::string bytes = Written(GetParam(), [](TSLArchive& archive) {
        for (const TValueCase& c : ValueCases()) c.write(archive);
    });
    TMemoryStream stream(bytes.data(), bytes.size());
    TSLArchive archive(&stream, GetParam());
    for (const TValueCase& c : ValueCases()) EXPECT_TRUE(c.read(archive, true)) << c.name;
    EXPECT_FALSE(archive.Failed());
    EXPECT_EQ(static_cast<std::size_t>(stream.Tell()), bytes.size());
}

TEST_P(TSLValueCoders, AFailedArchiveMovesNothingInEitherDirection) {
    const std::string bytes = Coded().Int(1).Int(2).bytes;
    TMemoryStream stream(bytes.data(), bytes.size());
    TSLArchive archive(&stream, GetParam());
    archive.Fail(TSLFailure::ObjectRefused, "refused by the test");
    for (const TValueCase& c : ValueCases()) {
        SCOPED_TRACE(c.name);
        c.write(archive);
        EXPECT_TRUE(c.read(archive, false));
    }
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(AsText(stream.Bytes()), bytes);
    EXPECT_EQ(archive.GetFailure(), TSLFailure::ObjectRefused);
}

TEST_P(TSLValueCoders, AWriteTheStreamRefusesFailsTheArchive) {
    // A stream that refuses every write, as a full disk would.
    class TFullStream : public TMemoryStream {
    public:
        int Write(const void*, std::uint32_t) override { return 0; }
    };
    for (const TValueCase& c : ValueCases()) {
        SCOPED_TRACE(c.name);
        TFullStream full;
        TSLArchive archive(&full, GetParam());
        c.write(archive);
        EXPECT_EQ(archive.GetFailure(), TSLFailure::WriteFailed);
    }
}

TEST_P(TSLValueCoders, AlignedVectorRoundTrips) {
    TAlgnVec<unsigned char> source;
    source.Resize(5);
    for (unsigned char i = 0; i < 5; ++i) source.Data()[i] = static_cast<unsigned char>(250 + i);
    const std::string bytes =
        Written(GetParam(), [&](TSLArchive& archive) { SLWriteAlgnVec(archive, &source); });
    EXPECT_EQ(bytes, Coded().Int(5).Byte(250).Byte(251).Byte(252).Byte(253).Byte(254).bytes);

    TMemoryStream stream(bytes.data(), bytes.size());
    TSLArchive in(&stream, GetParam());
    TAlgnVec<unsigned char> target;
    target.Resize(2);
    SLReadAlgnVec(in, &target);
    ASSERT_FALSE(in.Failed());
    ASSERT_EQ(target.Size(), 5u);
    for (unsigned char i = 0; i < 5; ++i) EXPECT_EQ(target.Data()[i], 250 + i);
}

// A memory stream that cannot tell its position, so readers cannot check
// counts against the bytes left.
class TUntellingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::int32_t Tell() override { return -1; }
};

TEST_P(TSLValueCoders, AlignedVectorRefusesACountBeyondTheStream) {
    // A count of four billion with four bytes behind it, once from a stream
    // that can tell its size and once from one that cannot: both fail without
    // touching the vector.
    const std::string hostile = Coded().Int(4000000000).Byte(1).Byte(2).Byte(3).Byte(4).bytes;
    TMemoryStream telling(hostile.data(), hostile.size());
    TUntellingStream untelling(hostile.data(), hostile.size());
    for (TStream* stream : {static_cast<TStream*>(&telling), static_cast<TStream*>(&untelling)}) {
        TSLArchive in(stream, GetParam());
        TAlgnVec<unsigned char> target;
        target.Resize(3);
        SLReadAlgnVec(in, &target);
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(target.Size(), 3u);
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

// --- The text coding's own rules ---------------------------------------------

TEST(TSLTextCoding, NumbersParseLikeScanf) {
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

TEST(TSLTextCoding, NumberLinesAreConsumedWholeWhateverFollowsTheDigits) {
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

TEST(TSLTextCoding, ALineWithoutANumberFailsAndLeavesTheTarget) {
    for (const char* line : {"\n", "abc\n", "-\n", "+ 5\n", " \t \n", "--1\n", "x1\n"}) {
        SCOPED_TRACE(line);
        TMemoryStream stream(AsBytes(line));
        TSLArchive archive(&stream, TSLArchive::CodingText);
        std::int32_t i = 42;
        SLReadInt(archive, &i);
        EXPECT_EQ(archive.GetFailure(), TSLFailure::MalformedNumber);
        EXPECT_EQ(i, 42);
    }
}

TEST(TSLTextCoding, StringsKeepEscapesOtherThanQuoteAndBackslash) {
    // Whatever bytes stand where the quotes and the line feed belong are
    // taken as they are; an escape of any other byte is kept with the byte.
    TMemoryStream stream(AsBytes("'a\\n\\\"b\\\\\"x"));
    TSLArchive archive(&stream, TSLArchive::CodingText);
    TString read;
    SLReadString(archive, &read);
    EXPECT_FALSE(archive.Failed());
    EXPECT_EQ(std::string(read.CStr(), read.Length()), "a\\n\"b\\");
}

TEST(TSLTextCoding, AStringCutOffInsideAnEscapeFails) {
    TMemoryStream stream(AsBytes("\"ab\\"));
    TSLArchive archive(&stream, TSLArchive::CodingText);
    TString read("kept");
    SLReadString(archive, &read);
    EXPECT_EQ(archive.GetFailure(), TSLFailure::EndOfStream);
    EXPECT_EQ(read, TString("kept"));
}

}  // namespace
