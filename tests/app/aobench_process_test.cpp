// Runs the built benchmark as a separate process in a scratch folder and
// checks everything it leaves behind: console output, the two result files
// and the exit status, also when a result file cannot be written.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "tests/app/aobench_results.h"
#include "tests/support/run_program.h"
#include "tests/support/system_skips.h"

namespace {

namespace fs = std::filesystem;
using KavTest::IsTimingLine;
using KavTest::Le32;
using KavTest::ReadFile;

struct TRun {
    int status = -1;
    std::string out;
    std::string err;
};

class AobenchProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // A fresh folder of its own, so that suites of several builds can run
        // side by side.
        std::random_device random;
        do {
            dir = fs::temp_directory_path() /
                  (std::string("aobench_process_") + info->name() + "_" + std::to_string(random()));
        } while (!fs::create_directory(dir));
        KAV_REQUIRE_CHILD_PROCESSES();
    }
    void TearDown() override { fs::remove_all(dir); }

    TRun Run() {
        const KavTest::TProgramRun child = KavTest::RunProgram(AOBENCH_PATH, {}, dir);
        EXPECT_TRUE(child.started);
        EXPECT_FALSE(child.timedOut);
        TRun run;
        run.status = child.exitCode;
        run.out = KavTest::WithUnixLineEnds(child.out);
        run.err = KavTest::WithUnixLineEnds(child.err);
        return run;
    }

    fs::path dir;
};

void ExpectTimingLine(const std::string& text) { EXPECT_TRUE(IsTimingLine(text)) << text; }

TEST(AobenchTimingLine, AcceptsOnlyTheExactForm) {
    EXPECT_TRUE(IsTimingLine("AO Multi Thread Time = 0ms\n"));
    EXPECT_TRUE(IsTimingLine("AO Multi Thread Time = 1234ms\n"));
    EXPECT_FALSE(IsTimingLine("AO Multi Thread Time = 01ms\n"));
    EXPECT_FALSE(IsTimingLine("AO Multi Thread Time = -1ms\n"));
    EXPECT_FALSE(IsTimingLine("AO Multi Thread Time = ms\n"));
    EXPECT_FALSE(IsTimingLine("AO Multi Thread Time = 12ms\r\n"));
    EXPECT_FALSE(IsTimingLine("AO Multi Thread Time = 12ms"));
}

void ExpectPicture(const std::string& bmp) {
    ASSERT_EQ(bmp.size(), 196662u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 2), 196662u);
    EXPECT_EQ(Le32(bmp, 10), 54u);
    EXPECT_EQ(Le32(bmp, 18), 256u);
    EXPECT_EQ(Le32(bmp, 22), 256u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 24);
    // The bottom row of the file is picture row 0, which sees the ground, and
    // the top row sees only sky: black.
    EXPECT_NE(bmp.substr(54, 768), std::string(768, '\0'));
    EXPECT_EQ(bmp.substr(54 + 255 * 768, 768), std::string(768, '\0'));
}

TEST_F(AobenchProcessTest, PrintsOnlyTheBannerAndWritesBothFiles) {
    const TRun run = Run();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Kav3DTest6_AOBench\n");
    EXPECT_EQ(run.err, "");
    ExpectTimingLine(ReadFile(dir / "AOBench.txt"));
    ExpectPicture(ReadFile(dir / "aomt.bmp"));
}

TEST_F(AobenchProcessTest, OverwritesEarlierResults) {
    { std::ofstream(dir / "AOBench.txt") << std::string(100, 'x'); }
    { std::ofstream(dir / "aomt.bmp") << std::string(300000, 'y'); }
    const TRun run = Run();
    EXPECT_EQ(run.status, 0);
    ExpectTimingLine(ReadFile(dir / "AOBench.txt"));
    ExpectPicture(ReadFile(dir / "aomt.bmp"));
}

// A folder standing where a result file belongs makes that file unwritable,
// whatever the user's privileges.
TEST_F(AobenchProcessTest, UnwritablePictureIsReportedAndFailsTheRun) {
    fs::create_directory(dir / "aomt.bmp");
    const TRun run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Kav3DTest6_AOBench\n");
    EXPECT_NE(run.err.find("\"aomt.bmp\""), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("AOBench.txt"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
    ExpectTimingLine(ReadFile(dir / "AOBench.txt"));
}

TEST_F(AobenchProcessTest, UnwritableTimingFileIsReportedAndFailsTheRun) {
    fs::create_directory(dir / "AOBench.txt");
    const TRun run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Kav3DTest6_AOBench\n");
    EXPECT_NE(run.err.find("\"AOBench.txt\""), std::string::npos) << run.err;
    ExpectPicture(ReadFile(dir / "aomt.bmp"));
}

// A result file that is a link to a device refusing every write (POSIX
// systems that have one): the device is written, never replaced, and the
// failure is reported.
TEST_F(AobenchProcessTest, PictureOnAFullDeviceIsReportedAndFailsTheRun) {
#if defined(_WIN32)
    GTEST_SKIP() << "no full device, and links need a privilege";
#else
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no device that refuses writes";
    fs::create_symlink("/dev/full", dir / "aomt.bmp");
    const TRun run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Kav3DTest6_AOBench\n");
    EXPECT_NE(run.err.find("\"aomt.bmp\""), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir / "aomt.bmp"));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    ExpectTimingLine(ReadFile(dir / "AOBench.txt"));
#endif
}

#if !defined(_WIN32)
// Lets files written by this process and its children grow to `bytes` at
// most while it lives: a disk that fills up, for a child whose writes go to
// a real folder. The signal that such a write raises is ignored, so that the
// write fails instead (a child inherits both).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        applied = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
    bool applied = false;

private:
    rlimit saved{};
    void (*savedHandler)(int) = SIG_DFL;
};
#endif

// The disk fills up part-way through the picture: the earlier picture stays
// exactly as it was, no partial file is left, and the run fails.
TEST_F(AobenchProcessTest, DiskFullPartWayLeavesTheEarlierPicture) {
#if defined(_WIN32)
    GTEST_SKIP() << "no file size limit; the BMP writer's tests cover a full disk with a write limit";
#else
    const std::string earlier(300000, 'y');
    { std::ofstream(dir / "aomt.bmp", std::ios::binary) << earlier; }
    TRun run;
    {
        const TFileSizeLimit limit(100000);  // the picture needs 196,662 bytes
        ASSERT_TRUE(limit.applied);
        run = Run();
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Kav3DTest6_AOBench\n");
    EXPECT_NE(run.err.find("\"aomt.bmp\""), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "aomt.bmp"), earlier);
    ExpectTimingLine(ReadFile(dir / "AOBench.txt"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"AOBench.txt", "aomt.bmp"}));
#endif
}

}  // namespace
