#include "base/stream/file_stream.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/stream/temp_dir.h"
#include "tests/base/stream/write_failures.h"

using KavTest::ReadFileBytes;
using KavTest::TFileWriteLimit;
using KavTest::TTempDir;
using KavTest::WriteFileBytes;
using KavV3Base::TFileStream;
using KavV3Base::TString;
using Bytes = std::vector<unsigned char>;

TEST(TFileStream, WriteModeTruncatesAndAppendModeAppends) {
    const TTempDir dir;
    const std::string name = dir.File("modes.bin");
    WriteFileBytes(name, "old content");

    TFileStream s;
    ASSERT_TRUE(s.Open(name.c_str(), TFileStream::ModeWrite));
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_EQ(s.Write("abc", 3), 1);
    s.Close();
    EXPECT_EQ(ReadFileBytes(name), (Bytes{'a', 'b', 'c'}));

    ASSERT_TRUE(s.Open(name.c_str(), TFileStream::ModeAppend));
    EXPECT_EQ(s.Write("de", 2), 1);
    s.Close();
    EXPECT_EQ(ReadFileBytes(name), (Bytes{'a', 'b', 'c', 'd', 'e'}));

    ASSERT_TRUE(s.Open(name.c_str(), TFileStream::ModeRead));
    char buffer[5] = {};
    EXPECT_EQ(s.Read(buffer, 5), 1);
    EXPECT_EQ(std::string(buffer, 5), "abcde");
    EXPECT_EQ(s.Read(buffer, 1), 0);

    // Append mode also creates a missing file.
    ASSERT_TRUE(s.Open(dir.File("created.bin").c_str(), TFileStream::ModeAppend));
    s.Close();
    EXPECT_TRUE(std::filesystem::exists(dir.File("created.bin")));
}

TEST(TFileStream, RejectedOpenLeavesTheStreamClosed) {
    const TTempDir dir;
    const std::string name = dir.File("data.bin");
    WriteFileBytes(name, "0123456789");

    TFileStream s;
    ASSERT_TRUE(s.Open(name.c_str(), TFileStream::ModeRead));
    EXPECT_FALSE(s.Open(name.c_str(), 3));
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Size(), 0u);

    EXPECT_FALSE(s.Open(name.c_str(), -1));
    EXPECT_FALSE(s.Open(nullptr, TFileStream::ModeRead));
    EXPECT_FALSE(s.Open("", TFileStream::ModeWrite));
    EXPECT_FALSE(s.Open(dir.File("missing.bin").c_str(), TFileStream::ModeRead));
    EXPECT_FALSE(s.Open(dir.File("no_dir/new.bin").c_str(), TFileStream::ModeWrite));
    EXPECT_FALSE(s.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(dir.path / "no_dir"));

    // Transfers on a closed stream fail instead of touching a null file.
    char c = 0;
    EXPECT_NE(s.Seek(0), 0);
    EXPECT_EQ(s.Tell(), -1);
    EXPECT_EQ(s.Read(&c, 1), 0);
    EXPECT_EQ(s.Write(&c, 1), 0);
    EXPECT_FALSE(s.Flush());
    s.Close();  // closing twice is harmless
}

TEST(TFileStream, SizeKeepsThePosition) {
    const TTempDir dir;
    TFileStream s;
    ASSERT_TRUE(s.Open(dir.File("size.bin").c_str(), TFileStream::ModeWrite));
    EXPECT_EQ(s.Write("0123456789", 10), 1);
    EXPECT_EQ(s.Seek(4), 0);
    EXPECT_EQ(s.Size(), 10u);
    EXPECT_EQ(s.Tell(), 4);

    // Writing continues where the position was, not at the end Size visited.
    EXPECT_EQ(s.Write("xy", 2), 1);
    EXPECT_EQ(s.Tell(), 6);
    EXPECT_EQ(s.Write("", 0), 0);
    s.Close();
    const Bytes content = ReadFileBytes(dir.File("size.bin"));
    EXPECT_EQ(std::string(content.begin(), content.end()), "0123xy6789");
}

TEST(TFileStream, StringsAndNumbersSurviveAFile) {
    const TTempDir dir;
    const std::string name = dir.File("values.bin");
    {
        TFileStream out;
        ASSERT_TRUE(out.Open(name.c_str(), TFileStream::ModeWrite));
        out.WriteString(TString("TBitmap"));
        out.WriteInt(-5);
        out.WriteLine(TString("line"));
        out.WriteString(TString("tail"));  // the destructor closes and flushes
    }
    EXPECT_EQ(ReadFileBytes(name).size(), 8u + 4 + 5 + 5);

    TFileStream in;
    ASSERT_TRUE(in.Open(name.c_str(), TFileStream::ModeRead));
    TString text;
    std::int32_t value = 0;
    EXPECT_EQ(in.ReadString(text), 8);
    EXPECT_TRUE(text == "TBitmap");
    EXPECT_EQ(in.ReadInt(value), 1);
    EXPECT_EQ(value, -5);
    EXPECT_EQ(in.ReadLine(text), 4);
    EXPECT_TRUE(text == "line");
    EXPECT_EQ(in.ReadString(text), 5);
    EXPECT_TRUE(text == "tail");
    EXPECT_EQ(in.ReadString(text), 0);  // end of file
}

TEST(TFileStream, FlushAndCloseReportWritesThatFailed) {
    const TTempDir dir;
    TFileStream s;
    ASSERT_TRUE(s.Open(dir.File("ok.bin").c_str(), TFileStream::ModeWrite));
    EXPECT_EQ(s.Write("abc", 3), 1);
    EXPECT_TRUE(s.Flush());
    EXPECT_TRUE(s.Close());
    EXPECT_TRUE(s.Close()) << "closing a closed stream is no failure";

    // A disk that fills up after five bytes: the write that crosses the
    // limit stores what fits, fails, and is remembered until the close.
    {
        const TFileWriteLimit limit(5);
        ASSERT_TRUE(s.Open(dir.File("full.bin").c_str(), TFileStream::ModeWrite));
        EXPECT_EQ(s.Write("abc", 3), 1);
        EXPECT_EQ(s.Write("defg", 4), 0);
        EXPECT_EQ(s.Write("h", 1), 0);
        EXPECT_FALSE(s.Flush());
        EXPECT_FALSE(s.Close());
        EXPECT_FALSE(s.IsOpen());
    }
    EXPECT_EQ(ReadFileBytes(dir.File("full.bin")), (Bytes{'a', 'b', 'c', 'd', 'e'}));

    // The next file starts with a clean record.
    ASSERT_TRUE(s.Open(dir.File("again.bin").c_str(), TFileStream::ModeWrite));
    EXPECT_EQ(s.Write("abc", 3), 1);
    EXPECT_TRUE(s.Close());
}

// Where the system has a full device, the failure comes from the system
// itself: buffered bytes that cannot be written show at the flush or at the
// close.
TEST(TFileStream, FullDeviceFailsTheFlushAndTheClose) {
    const std::string device = KavTest::FullDevice();
    if (device.empty())
        GTEST_SKIP()
            << "no device that refuses writes; FlushAndCloseReportWritesThatFailed covers the stream";
    TFileStream s;
    ASSERT_TRUE(s.Open(device.c_str(), TFileStream::ModeWrite));
    s.Write("abc", 3);  // buffered: the failure shows when the buffer is pushed
    EXPECT_FALSE(s.Flush());
    EXPECT_FALSE(s.Close());

    ASSERT_TRUE(s.Open(device.c_str(), TFileStream::ModeWrite));
    EXPECT_EQ(s.Write("abc", 3), 1);
    EXPECT_FALSE(s.Close()) << "the close pushes the buffer, and that fails";
}

TEST(TFileStream, OpenRefusesADirectoryInEveryMode) {
    const TTempDir dir;
    const std::string folder = dir.File("folder");
    std::filesystem::create_directory(folder);
    TFileStream s;
    errno = 0;
    EXPECT_FALSE(s.Open(folder.c_str(), TFileStream::ModeRead));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_FALSE(s.Open(folder.c_str(), TFileStream::ModeWrite));
    EXPECT_FALSE(s.Open(folder.c_str(), TFileStream::ModeAppend));
    EXPECT_FALSE(s.IsOpen());
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}
