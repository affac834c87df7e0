// Tests of the in-memory stream.

#include "base/stream/memory_stream.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;

TEST(TMemoryStream, WritesExtendReadsStopAtTheEnd) {
    TMemoryStream stream;
    const std::int32_t value = 0x04030201;
    EXPECT_EQ(stream.WriteInt(value), 1);
    EXPECT_EQ(stream.Write("xy", 0), 0);
    EXPECT_EQ(stream.Size(), 4u);
    EXPECT_EQ(stream.Seek(1), 0);
    EXPECT_EQ(stream.Write("z", 1), 1);  // overwrites in place
    EXPECT_EQ(stream.Size(), 4u);
    EXPECT_NE(stream.Seek(5), 0);
    EXPECT_EQ(stream.Tell(), 2);

    EXPECT_EQ(stream.Seek(0), 0);
    std::int32_t read = 0;
    EXPECT_EQ(stream.ReadInt(read), 1);
    EXPECT_EQ(read, 0x0403'7a01);
    char c = 0;
    EXPECT_EQ(stream.Read(&c, 1), 0);  // nothing left: no partial read
    EXPECT_EQ(stream.Tell(), 4);
    EXPECT_EQ(stream.Seek(3), 0);
    EXPECT_EQ(stream.ReadInt(read), 0);
    EXPECT_EQ(stream.Tell(), 3);

    stream.Clear();
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_EQ(stream.Tell(), 0);
}

TEST(TMemoryStream, ReadStringConsumesWhatTheByteByByteReadConsumes) {
    // The stream's own read against the byte-by-byte one of TStream, on the
    // same bytes: strings, an empty one, and one cut off by the end.
    const char bytes[] = {'a', 'b', 0, 0, 'x', '\n', 'y', 0, 'z', 'q'};
    TMemoryStream fast(bytes, sizeof bytes);
    TMemoryStream slow(bytes, sizeof bytes);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        TString fastText("old");
        TString slowText("old");
        EXPECT_EQ(fast.ReadString(fastText), slow.TStream::ReadString(slowText));
        EXPECT_EQ(fastText, slowText);
        EXPECT_EQ(fast.Tell(), slow.Tell());
    }
    EXPECT_EQ(fast.Tell(), static_cast<std::int32_t>(sizeof bytes));
}

TEST(TMemoryStream, AssignReplacesTheBytesAndRewinds) {
    TMemoryStream stream("abcdef", 6);
    char c = 0;
    ASSERT_EQ(stream.Read(&c, 1), 1);
    stream.Assign("xyz", 3);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.Size(), 3u);
    char read[3] = {};
    ASSERT_EQ(stream.Read(read, 3), 1);
    EXPECT_EQ(std::string(read, 3), "xyz");
    EXPECT_EQ(stream.Read(&c, 1), 0);  // the old tail is gone

    // Refilling with fewer bytes keeps the storage it had.
    const unsigned char* storage = stream.Bytes().data();
    stream.Assign("q", 1);
    EXPECT_EQ(stream.Bytes().data(), storage);
    EXPECT_EQ(stream.Bytes(), std::vector<unsigned char>{'q'});
    stream.Assign(nullptr, 0);
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_EQ(stream.Tell(), 0);
}

TEST(TMemoryStreamDeathTest, AssignFromItsOwnBytesStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TMemoryStream stream("abcdef", 6);
    const unsigned char* own = stream.Bytes().data();
    EXPECT_DEATH(stream.Assign(own + 2, 3),
                 "contract violated: TMemoryStream::Assign from the stream's own bytes");
    EXPECT_DEATH(stream.Assign(own + 5, 1), "TMemoryStream::Assign from the stream's own bytes");
    // Bytes right next to the stream's, on either side, are no part of it.
    const std::vector<unsigned char> copy(stream.Bytes());
    stream.Assign(copy.data() + 1, 4);
    EXPECT_EQ(stream.Bytes(), (std::vector<unsigned char>{'b', 'c', 'd', 'e'}));
}

}  // namespace
