#include "base/stream/text_output.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/stream/temp_dir.h"
#include "tests/base/stream/write_failures.h"
#include "tests/support/system_skips.h"

using KavTest::FolderContent;
using KavTest::ReadFileBytes;
using KavTest::TFileWriteLimit;
using KavTest::TTempDir;
using KavTest::WriteFileBytes;
using KavV3Base::FormatString;
using KavV3Base::PrintText;
using KavV3Base::TString;
using KavV3Base::WriteTextFile;

TEST(PrintText, WritesTheTextUnchanged) {
    KAV_REQUIRE_STDOUT_CAPTURE();
    testing::internal::CaptureStdout();
    PrintText("Kav3DTest6_AOBench\n");
    PrintText(nullptr);
    PrintText("no line end");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Kav3DTest6_AOBench\nno line end");
}

TEST(FormatString, StoresTheFormattedText) {
    char buffer[KavV3Base::FormatBufferSize];
    EXPECT_EQ(FormatString(buffer, "%d\n", -5), 3);
    EXPECT_STREQ(buffer, "-5\n");
    EXPECT_EQ(FormatString(buffer, "%llu\n", static_cast<unsigned long long>(std::uint64_t{7})), 2);
    EXPECT_STREQ(buffer, "7\n");
    EXPECT_EQ(FormatString(buffer, "%s", ""), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(FormatString, NeverWritesPastTheBuffer) {
    // The buffer sits inside a larger one whose tail must stay untouched.
    std::vector<char> guarded(KavV3Base::FormatBufferSize + 64, '#');
    const std::string longText(300, 'a');
    EXPECT_EQ(FormatString(guarded.data(), "%s", longText.c_str()), 255);
    EXPECT_EQ(guarded[255], '\0');
    EXPECT_EQ(std::strlen(guarded.data()), 255u);
    for (std::size_t i = KavV3Base::FormatBufferSize; i < guarded.size(); ++i)
        ASSERT_EQ(guarded[i], '#') << "byte " << i;

    const std::string exact(255, 'b');
    EXPECT_EQ(FormatString(guarded.data(), "%s", exact.c_str()), 255);
    EXPECT_EQ(std::string(guarded.data()), exact);
}

TEST(WriteTextFile, WritesTheTextWithoutTerminator) {
    const TTempDir dir;
    const std::string name = dir.File("AOBench.txt");
    const TString line =
        TString() + TString("AO Multi Thread Time = ") + TString(std::int32_t{1234}) + TString("ms\n");
    ASSERT_TRUE(WriteTextFile(TString(name.c_str()), line));
    const std::vector<unsigned char> content = ReadFileBytes(name);
    EXPECT_EQ(std::string(content.begin(), content.end()), "AO Multi Thread Time = 1234ms\n");
    EXPECT_EQ(content.size(), 30u);

    // Only the part before a NUL is text.
    ASSERT_TRUE(WriteTextFile(TString(name.c_str()), TString::FromBytes("ab\0cd", 5)));
    EXPECT_EQ(ReadFileBytes(name), (std::vector<unsigned char>{'a', 'b'}));

    // An empty text leaves an existing file empty.
    WriteFileBytes(name, "previous run");
    EXPECT_TRUE(WriteTextFile(TString(name.c_str()), TString()));
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(std::filesystem::file_size(name), 0u);
}

TEST(WriteTextFile, FailsWhenTheTextCannotBeStored) {
    const TTempDir dir;
    const std::string missing = dir.File("no_dir/AOBench.txt");
    EXPECT_FALSE(WriteTextFile(TString(missing.c_str()), TString("text")));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "no_dir"));
    EXPECT_FALSE(WriteTextFile(TString(), TString("text")));
    EXPECT_FALSE(WriteTextFile(TString(""), TString("text")));
    std::filesystem::create_directory(dir.path / "folder");
    EXPECT_FALSE(WriteTextFile(TString(dir.File("folder").c_str()), TString("text")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "folder"));
}

// A disk that fills up part-way, at every byte of the text: the call fails
// and the earlier file stays exactly as it was, with nothing beside it.
TEST(WriteTextFile, FailedWriteLeavesTheEarlierFileAsItWas) {
    const TTempDir dir;
    const std::string name = dir.File("AOBench.txt");
    const std::string text = "AO Multi Thread Time = 1234ms\n";
    WriteFileBytes(name, "previous run");
    for (std::int64_t fits = 0; fits < static_cast<std::int64_t>(text.size()); ++fits) {
        {
            const TFileWriteLimit limit(fits);
            EXPECT_FALSE(WriteTextFile(TString(name.c_str()), TString(text.c_str()))) << fits;
        }
        const std::vector<unsigned char> content = ReadFileBytes(name);
        EXPECT_EQ(std::string(content.begin(), content.end()), "previous run") << fits;
        EXPECT_EQ(FolderContent(dir.path), std::vector<std::string>{"AOBench.txt"}) << fits;
    }
    // Without an earlier file there is none afterwards either.
    const std::string fresh = dir.File("fresh.txt");
    {
        const TFileWriteLimit limit(3);
        EXPECT_FALSE(WriteTextFile(TString(fresh.c_str()), TString(text.c_str())));
    }
    EXPECT_FALSE(std::filesystem::exists(fresh));

    {
        const TFileWriteLimit limit(static_cast<std::int64_t>(text.size()));  // just enough
        EXPECT_TRUE(WriteTextFile(TString(name.c_str()), TString(text.c_str())));
    }
    const std::vector<unsigned char> content = ReadFileBytes(name);
    EXPECT_EQ(std::string(content.begin(), content.end()), text);
}

TEST(WriteTextFile, FullDeviceIsWrittenDirectlyAndFails) {
    const std::string device = KavTest::FullDevice();
    if (device.empty())
        GTEST_SKIP()
            << "no device that refuses writes; FailedWriteLeavesTheEarlierFileAsItWas covers the failure";
    EXPECT_FALSE(WriteTextFile(TString(device.c_str()), TString("text")));
    // A device is written, never replaced by a plain file.
    EXPECT_TRUE(std::filesystem::is_character_file(device));
}
