#include "base/stream/stream.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/stream/failing_stream.h"

using KavTest::TFailingStream;
using KavV3Base::TString;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(TStream, TypedWritesPutTheValueBytesLowFirst) {
    TFailingStream s;
    EXPECT_EQ(s.WriteInt(1), 1);
    EXPECT_EQ(s.WriteShort(std::int16_t{0x1234}), 1);
    EXPECT_EQ(s.WriteDouble(1.0), 1);
    EXPECT_EQ(s.WriteFloat(1.0f), 1);
    EXPECT_EQ(s.WriteUChar(static_cast<unsigned char>(0xAB)), 1);
    EXPECT_EQ(s.WriteInt64(std::int64_t{0x0102030405060708}), 1);
    EXPECT_EQ(s.WriteSize(std::uint32_t{0xDEADBEEF}), 1);
    const Bytes expected = {0x01, 0x00, 0x00, 0x00,                          // int 1
                            0x34, 0x12,                                      // short 0x1234
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // double 1.0
                            0x00, 0x00, 0x80, 0x3F,                          // float 1.0
                            0xAB,                                            // unsigned char
                            0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // int64
                            0xEF, 0xBE, 0xAD, 0xDE};                         // size
    EXPECT_EQ(s.bytes, expected);
}

TEST(TStream, TypedReadsReturnWhatWasWrittenAndFailAtTheEnd) {
    TFailingStream s;
    s.WriteInt(-7);
    s.WriteShort(std::int16_t{-2});
    s.WriteChar('q');
    s.WriteUInt(4000000000u);
    s.WriteUShort(std::uint16_t{65000});
    s.WriteUChar(static_cast<unsigned char>(200));
    s.WriteFloat(0.25f);
    s.WriteDouble(-3.5);
    s.WriteSize(std::uint32_t{12});
    s.WriteLong(std::int32_t{-99});
    s.WriteInt64(std::int64_t{-1234567890123});
    ASSERT_EQ(s.bytes.size(), 4u + 2 + 1 + 4 + 2 + 1 + 4 + 8 + 4 + 4 + 8);

    s.Seek(0);
    std::int32_t i = 0, l = 0;
    std::int16_t sh = 0;
    char c = 0;
    std::uint32_t u = 0, size = 0;
    std::uint16_t us = 0;
    unsigned char uc = 0;
    float f = 0;
    double d = 0;
    std::int64_t i64 = 0;
    EXPECT_EQ(s.ReadInt(i), 1);
    EXPECT_EQ(s.ReadShort(sh), 1);
    EXPECT_EQ(s.ReadChar(c), 1);
    EXPECT_EQ(s.ReadUInt(u), 1);
    EXPECT_EQ(s.ReadUShort(us), 1);
    EXPECT_EQ(s.ReadUChar(uc), 1);
    EXPECT_EQ(s.ReadFloat(f), 1);
    EXPECT_EQ(s.ReadDouble(d), 1);
    EXPECT_EQ(s.ReadSize(size), 1);
    EXPECT_EQ(s.ReadLong(l), 1);
    EXPECT_EQ(s.ReadInt64(i64), 1);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(sh, -2);
    EXPECT_EQ(c, 'q');
    EXPECT_EQ(u, 4000000000u);
    EXPECT_EQ(us, 65000);
    EXPECT_EQ(uc, 200);
    EXPECT_EQ(f, 0.25f);
    EXPECT_EQ(d, -3.5);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(l, -99);
    EXPECT_EQ(i64, -1234567890123);

    EXPECT_EQ(s.ReadInt(i), 0);  // nothing left
}

TEST(TStream, StringAndLineWrites) {
    TFailingStream s;
    EXPECT_EQ(s.WriteString(TString("abc")), 4);
    EXPECT_EQ(s.bytes, (Bytes{'a', 'b', 'c', 0}));

    s.bytes.clear();
    s.position = 0;
    EXPECT_EQ(s.WriteString(TString()), 1);
    EXPECT_EQ(s.WriteString(TString("")), 1);
    EXPECT_EQ(s.WriteString(TString::FromBytes("x\0yz", 4)), 2);
    EXPECT_EQ(s.bytes, (Bytes{0, 0, 'x', 0}));

    s.bytes.clear();
    s.position = 0;
    EXPECT_EQ(s.WriteLine(TString("abc")), 4);
    EXPECT_EQ(s.WriteLine(TString()), 1);
    EXPECT_EQ(s.WriteLine(TString("")), 1);
    EXPECT_EQ(s.bytes, (Bytes{'a', 'b', 'c', '\n', '\n', '\n'}));

    // The count is what was meant for the stream, even when it refused.
    TFailingStream refusing;
    refusing.writesBeforeFailure = 0;
    EXPECT_EQ(refusing.WriteLine(TString("abc")), 4);
    EXPECT_EQ(refusing.WriteString(TString("abc")), 4);
    EXPECT_EQ(refusing.WriteInt(1), 0);
    EXPECT_TRUE(refusing.bytes.empty());
}

TEST(TStream, ReadStringStopsAfterTheNul) {
    TFailingStream s(Bytes{'a', 'b', 0, 'c'});
    TString text("previous");
    EXPECT_EQ(s.ReadString(text), 3);
    EXPECT_STREQ(text.CStr(), "ab");
    char next = 0;
    ASSERT_EQ(s.ReadChar(next), 1);
    EXPECT_EQ(next, 'c');

    TFailingStream single(Bytes{0, 'z'});
    EXPECT_EQ(single.ReadString(text), 1);
    EXPECT_EQ(text.Length(), 0u);
    EXPECT_EQ(single.Tell(), 1);

    // Without a NUL the read ends with the stream and keeps what it found.
    TFailingStream unterminated(Bytes{'x', 'y'});
    EXPECT_EQ(unterminated.ReadString(text), 2);
    EXPECT_STREQ(text.CStr(), "xy");
    EXPECT_EQ(unterminated.ReadString(text), 0);
    EXPECT_EQ(text.Length(), 0u);
}

TEST(TStream, ReadLineStopsAtLineFeedOrEnd) {
    TFailingStream s(BytesOf("a\r\nsecond\n\nlast"));
    TString line;
    EXPECT_EQ(s.ReadLine(line), 2);
    ASSERT_EQ(line.Length(), 2u);
    EXPECT_EQ(line.CStr()[0], 'a');
    EXPECT_EQ(line.CStr()[1], '\r');

    EXPECT_EQ(s.ReadLine(line), 6);
    EXPECT_STREQ(line.CStr(), "second");

    EXPECT_EQ(s.ReadLine(line), 0);  // an empty line replaces the old text
    EXPECT_EQ(line.Length(), 0u);

    const int readsBefore = s.readCalls;
    EXPECT_EQ(s.ReadLine(line), 4);
    EXPECT_STREQ(line.CStr(), "last");
    EXPECT_EQ(s.readCalls - readsBefore, 5);  // one byte a call, and one that found the end
    EXPECT_EQ(s.ReadLine(line), 0);
}
