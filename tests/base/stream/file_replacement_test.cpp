#include "base/stream/file_replacement.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/stream/temp_dir.h"
#include "tests/base/stream/write_failures.h"

using KavTest::FolderContent;
using KavTest::ReadFileBytes;
using KavTest::TFileWriteLimit;
using KavTest::TTempDir;
using KavTest::WriteFileBytes;
using KavV3Base::TFileReplacement;
using Names = std::vector<std::string>;

namespace {

std::string Content(const std::string& name) {
    const std::vector<unsigned char> bytes = ReadFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(TFileReplacement, CommitPutsTheWholeFileInPlace) {
    const TTempDir dir;
    const std::string name = dir.File("result.txt");
    {
        TFileReplacement file;
        ASSERT_TRUE(file.Begin(name.c_str()));
        EXPECT_EQ(file.Stream().Write("first", 5), 1);
        EXPECT_FALSE(std::filesystem::exists(name)) << "the target appears only at the commit";
        ASSERT_TRUE(file.Commit());
    }
    EXPECT_EQ(Content(name), "first");

    // An existing target is replaced, on every system.
    {
        TFileReplacement file;
        ASSERT_TRUE(file.Begin(name.c_str()));
        EXPECT_EQ(file.Stream().Write("2nd", 3), 1);
        EXPECT_EQ(Content(name), "first") << "the earlier file stays until the commit";
        ASSERT_TRUE(file.Commit());
    }
    EXPECT_EQ(Content(name), "2nd");
    EXPECT_EQ(FolderContent(dir.path), Names{"result.txt"});
}

TEST(TFileReplacement, FailureLeavesTheEarlierFileAndNoTemporary) {
    const TTempDir dir;
    const std::string name = dir.File("result.txt");
    WriteFileBytes(name, "earlier");

    {
        const TFileWriteLimit limit(2);  // the disk fills up part-way
        TFileReplacement file;
        ASSERT_TRUE(file.Begin(name.c_str()));
        EXPECT_EQ(file.Stream().Write("replacement", 11), 0);
        errno = 0;
        EXPECT_FALSE(file.Commit());
        EXPECT_EQ(errno, ENOSPC) << "the reason is kept for the caller";
    }
    EXPECT_EQ(Content(name), "earlier");
    EXPECT_EQ(FolderContent(dir.path), Names{"result.txt"});

    {
        TFileReplacement file;
        ASSERT_TRUE(file.Begin(name.c_str()));
        EXPECT_EQ(file.Stream().Write("replacement", 11), 1);
        errno = EDOM;
        file.Abandon();
        EXPECT_EQ(errno, EDOM);
        EXPECT_FALSE(file.Commit()) << "nothing left to commit";
    }
    EXPECT_EQ(Content(name), "earlier");
    EXPECT_EQ(FolderContent(dir.path), Names{"result.txt"});

    // An exception on the way (an allocation failure, say) abandons it too.
    try {
        TFileReplacement file;
        ASSERT_TRUE(file.Begin(name.c_str()));
        EXPECT_EQ(file.Stream().Write("replacement", 11), 1);
        throw std::runtime_error("given up");
    } catch (const std::runtime_error&) {}
    EXPECT_EQ(Content(name), "earlier");
    EXPECT_EQ(FolderContent(dir.path), Names{"result.txt"});
}

TEST(TFileReplacement, BeginRefusesWhatCannotBeReplaced) {
    const TTempDir dir;
    TFileReplacement file;
    EXPECT_FALSE(file.Begin(nullptr));
    EXPECT_FALSE(file.Begin(""));
    EXPECT_FALSE(file.Begin(dir.File("no_dir/result.txt").c_str()));
    std::filesystem::create_directory(dir.path / "folder");
    errno = 0;
    EXPECT_FALSE(file.Begin(dir.File("folder").c_str()));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(FolderContent(dir.path), Names{"folder"});
    EXPECT_TRUE(FolderContent(dir.path / "folder").empty());
}

// Links: POSIX systems only, since making one on Windows needs a privilege
// that test machines rarely grant.
#if !defined(_WIN32)
TEST(TFileReplacement, LinkToAFileIsFollowedAndKept) {
    const TTempDir dir;
    std::filesystem::create_directory(dir.path / "real");
    const std::string real = dir.File("real/result.txt");
    const std::string link = dir.File("result.txt");
    WriteFileBytes(real, "earlier");
    std::filesystem::create_symlink(real, link);
    TFileReplacement file;
    ASSERT_TRUE(file.Begin(link.c_str()));
    EXPECT_EQ(file.Stream().Write("new", 3), 1);
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Content(real), "new");
    EXPECT_EQ(FolderContent(dir.path / "real"), Names{"result.txt"});
}
#endif

TEST(TFileReplacement, DeviceIsWrittenDirectlyAndNeverReplaced) {
    const std::string device = KavTest::FullDevice();
    if (device.empty()) GTEST_SKIP() << "no device that refuses writes";
    TFileReplacement file;
    ASSERT_TRUE(file.Begin(device.c_str()));
    file.Stream().Write("abc", 3);
    EXPECT_FALSE(file.Commit());
    EXPECT_TRUE(std::filesystem::is_character_file(device));
}
