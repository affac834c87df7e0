// Tests of TFileSearch: the order candidates are probed in, prefix removal, and saving and loading the
// prefixes.

#include "base/util/file_search.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/util/util_test_util.h"

namespace {

using namespace KavV3Base;
using namespace KavUtilTest;
namespace fs = std::filesystem;

std::vector<std::string> Paths(TFileSearch& search) {
    std::vector<std::string> paths;
    for (const TString& prefix : search.GetPaths())
        paths.emplace_back(prefix.CStr() != nullptr ? prefix.CStr() : "");
    return paths;
}

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TScratchDir {
public:
    TScratchDir()
        : root(fs::temp_directory_path() / ("kav_file_search_" + std::to_string(std::random_device{}()))) {
        fs::create_directories(root / "a");
        fs::create_directories(root / "b");
    }
    ~TScratchDir() { fs::remove_all(root); }
    // The path of name inside the directory, created as an empty file when make.
    std::string File(const std::string& name, bool make = true) const {
        const fs::path path = root / name;
        if (make) std::ofstream(path, std::ios::binary).put('x');
        return path.string();
    }
    std::string Prefix(const std::string& sub) const { return (root / sub).string() + "/"; }

    const fs::path root;
};

TEST(TFileSearch, FindTriesTheNameThenThePrefixAddedLastFirst) {
    TScratchDir dir;
    dir.File("a/x.txt");
    dir.File("b/x.txt");
    TFileSearch search;
    search.AddPath(dir.Prefix("a").c_str());
    search.AddPath(dir.Prefix("b").c_str());
    TString found("unchanged");
    EXPECT_EQ(search.Find("x.txt", &found), 1);
    EXPECT_EQ(found, TString(dir.Prefix("b").append("x.txt").c_str()));
    fs::remove(dir.root / "b" / "x.txt");
    EXPECT_EQ(search.Find("x.txt", &found), 1);
    EXPECT_EQ(found, TString(dir.Prefix("a").append("x.txt").c_str()));
    EXPECT_EQ(search.Find("x.txt", nullptr), 1);
    // A prefix is joined as it is, without a separator.
    dir.File("dirx.txt");
    search.AddPath((dir.root / "dir").string().c_str());
    EXPECT_EQ(search.Find("x.txt", &found), 1);
    EXPECT_EQ(found, TString(dir.File("dirx.txt", false).c_str()));
    // Nothing opens: 0, and found keeps its text.
    found = "kept";
    EXPECT_EQ(search.Find("missing.txt", &found), 0);
    EXPECT_EQ(search.Find("missing.txt", nullptr), 0);
    EXPECT_EQ(found, TString("kept"));
    // A directory does not open for reading.
    EXPECT_EQ(search.Find(dir.root.string().c_str(), nullptr), 0);
}

TEST(TFileSearch, TheBareNameWinsOverEveryPrefix) {
    TScratchDir dir;
    const std::string name = "kav_file_search_here_" + std::to_string(std::random_device{}()) + ".txt";
    std::ofstream(name, std::ios::binary).put('x');
    dir.File("a/" + name);
    TFileSearch search;
    search.AddPath(dir.Prefix("a").c_str());
    TString found;
    EXPECT_EQ(search.Find(name.c_str(), &found), 1);
    EXPECT_EQ(found, TString(name.c_str()));
    fs::remove(name);
}

TEST(TFileSearch, AnEmptyNameFindsNothing) {
    TScratchDir dir;
    TFileSearch search;
    // An empty name joined to this prefix would name an existing file.
    search.AddPath(dir.File("whole-name").c_str());
    TString found("kept");
    EXPECT_EQ(search.Find("", &found), 0);
    EXPECT_EQ(search.Find(TString(), &found), 0);
    EXPECT_EQ(found, TString("kept"));
}

TEST(TFileSearch, RemovePathRemovesEveryCopyAndKeepsTheRestInOrder) {
    TFileSearch search;
    for (const char* prefix : {"x/", "dup/", "y/", "", "dup/", "z/"}) search.AddPath(prefix);
    search.RemovePath("dup/");
    EXPECT_EQ(Paths(search), (std::vector<std::string>{"z/", "", "y/", "x/"}));
    search.RemovePath("absent/");
    EXPECT_EQ(Paths(search), (std::vector<std::string>{"z/", "", "y/", "x/"}));
    search.RemovePath(TString());  // no storage equals the empty text
    EXPECT_EQ(Paths(search), (std::vector<std::string>{"z/", "y/", "x/"}));
    search.GetPaths().PushBack("w/");  // the list handed out is the search's own
    EXPECT_EQ(Paths(search).back(), "w/");
}

TEST(TFileSearch, GraphRoundTripKeepsTheSearchOrder) {
    ForBothCodings([](std::int32_t coding) {
        TFileSearch search;
        for (const char* prefix : {"first/", "", "with \"quote\"\\", "line\nbreak/"}) search.AddPath(prefix);
        const TBytes bytes = SaveGraph(&search, coding);
        TFileSearch* copy = LoadGraph<TFileSearch>(bytes, coding);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Paths(*copy), Paths(search));
        delete copy;

        // Loading replaces what a search held.
        TFileSearch other;
        other.AddPath("old/");
        TMemoryStream body;
        TSLArchive writing(&body, coding);
        search.Save(writing);
        TMemoryStream bodyIn(body.Bytes());
        TSLArchive reading(&bodyIn, coding);
        other.Load(reading);
        EXPECT_EQ(Paths(other), Paths(search));
    });
}

TEST(TFileSearch, AHugeCountStopsAtTheFirstMissingPrefix) {
    ForBothCodings([](std::int32_t coding) {
        TMemoryStream stream;
        TSLArchive writing(&stream, coding);
        const std::uint32_t count = 0xFFFFFFFFu;
        const TString prefix("only/");
        SLWriteSize(writing, &count);
        SLWriteString(writing, &prefix);
        TFileSearch search;
        TMemoryStream in(stream.Bytes());
        TSLArchive reading(&in, coding);
        search.Load(reading);
        EXPECT_TRUE(reading.Failed());
        EXPECT_EQ(Paths(search), (std::vector<std::string>{"only/"}));
    });
}

}  // namespace
