// Runs the benchmark's run as a process under faults (aobench_fault_run):
// allocations that fail one at a time, threads and events that the system
// refuses, a standard output that cannot be written. Whatever happens, the
// run must end within a bounded time, never report a failure as success,
// and leave each result file whole or absent.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/app/aobench_results.h"
#include "tests/support/run_program.h"
#include "tests/support/system_skips.h"

namespace {

namespace fs = std::filesystem;
using KavTest::IsTimingLine;
using KavTest::Le32;
using KavTest::ReadFile;

constexpr const char* kBanner = "Kav3DTest6_AOBench\n";
constexpr int kRunTimeLimitSeconds = 120;  // a hang, not a slow machine

// The whole picture: its size, headers, a bottom row that sees the ground and
// a top row that sees only sky.
bool IsWholePicture(const std::string& bmp) {
    return bmp.size() == 196662u && bmp.compare(0, 2, "BM") == 0 && Le32(bmp, 2) == 196662u &&
           Le32(bmp, 10) == 54u && Le32(bmp, 18) == 256u && Le32(bmp, 22) == 256u &&
           bmp.compare(54, 768, std::string(768, '\0')) != 0 &&
           bmp.compare(54 + 255 * 768, 768, std::string(768, '\0')) == 0;
}

// One line, the benchmark's own.
bool IsOneMessageLine(const std::string& err) {
    return err.size() > 9 && err.compare(0, 9, "aobench: ") == 0 && err.find('\n') == err.size() - 1;
}

std::vector<std::string> FolderContent(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

class AobenchFaultRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        do {
            base = fs::temp_directory_path() / ("aobench_fault_" + std::to_string(random()));
        } while (!fs::create_directory(base));
        KAV_REQUIRE_CHILD_PROCESSES();
    }
    void TearDown() override { fs::remove_all(base); }

    // Runs the program in a fresh folder of its own, which `dir` names after.
    KavTest::TProgramRun Run(const std::vector<std::string>& args) {
        dir = base / std::to_string(runs++);
        fs::create_directory(dir);
        KavTest::TProgramRun run =
            KavTest::RunProgram(AOBENCH_FAULT_RUN_PATH, args, dir, kRunTimeLimitSeconds);
        run.out = KavTest::WithUnixLineEnds(run.out);
        run.err = KavTest::WithUnixLineEnds(run.err);
        return run;
    }

    // Whatever the fault did: the run ended by itself, and each result file is
    // whole or absent, with nothing else left in the folder. A success wrote
    // both; a failure said why in one line.
    void ExpectSoundEnd(const KavTest::TProgramRun& run) {
        ASSERT_TRUE(run.started);
        ASSERT_FALSE(run.timedOut) << "the run hung";
        for (const std::string& name : FolderContent(dir)) {
            EXPECT_TRUE(name == "aomt.bmp" || name == "AOBench.txt") << "left behind: " << name;
        }
        const bool picture = fs::exists(dir / "aomt.bmp");
        const bool timing = fs::exists(dir / "AOBench.txt");
        if (picture) {
            EXPECT_TRUE(IsWholePicture(ReadFile(dir / "aomt.bmp"))) << "a damaged picture";
        }
        if (timing) {
            EXPECT_TRUE(IsTimingLine(ReadFile(dir / "AOBench.txt"))) << ReadFile(dir / "AOBench.txt");
        }
        switch (run.exitCode) {
            case 0:
                EXPECT_EQ(run.out, kBanner);
                EXPECT_EQ(run.err, "");
                EXPECT_TRUE(picture && timing) << "success without both results";
                break;
            case 1:
                EXPECT_TRUE(IsOneMessageLine(run.err)) << run.err;
                break;
            case 3:
                EXPECT_EQ(run.err.find("fault run: uncaught bad_alloc\n"), run.err.size() - 30) << run.err;
                break;
            default:
                ADD_FAILURE() << "ended with status " << run.exitCode << ": " << run.err;
        }
    }

    fs::path base;
    fs::path dir;
    int runs = 0;
};

TEST_F(AobenchFaultRun, WorkersThatCannotStartFailTheRunWithoutResults) {
    // Threads refused after 0, 2 or 3; events refused for the pool (its
    // allIdle event is the first) or for one worker.
    const std::vector<std::vector<std::string>> faults = {
        {"--threads-allowed", "0"}, {"--threads-allowed", "2"}, {"--threads-allowed", "3"},
        {"--events-allowed", "0"},  {"--events-allowed", "2"},  {"--events-allowed", "4"}};
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault[0] + " " + fault[1]);
        const KavTest::TProgramRun run = Run(fault);
        ExpectSoundEnd(run);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, kBanner);
        EXPECT_NE(run.err.find("worker threads could be started"), std::string::npos) << run.err;
        EXPECT_TRUE(FolderContent(dir).empty()) << "a run on fewer workers wrote results";
    }
    // Enough of both: the real run.
    const KavTest::TProgramRun run = Run({"--threads-allowed", "4", "--events-allowed", "5"});
    ExpectSoundEnd(run);
    EXPECT_EQ(run.exitCode, 0);
}

// A device that refuses every write; POSIX systems without one, and Windows,
// have no standard output that fails on purpose, so the test is skipped there.
TEST_F(AobenchFaultRun, BannerThatCannotBeWrittenFailsTheRun) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no device that refuses writes";
    const KavTest::TProgramRun run = Run({"--stdout", "/dev/full"});
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "aobench: cannot write to standard output: " + std::string(std::strerror(ENOSPC)) + "\n");
    EXPECT_TRUE(IsWholePicture(ReadFile(dir / "aomt.bmp")));
    EXPECT_TRUE(IsTimingLine(ReadFile(dir / "AOBench.txt")));
}

// Every allocation of the run fails once, in turn.
TEST_F(AobenchFaultRun, EachAllocationFailingInTurnEndsTheRunSoundly) {
    const KavTest::TProgramRun counted = Run({"--count-allocations"});
    ASSERT_FALSE(counted.timedOut);
    ASSERT_EQ(counted.exitCode, 0) << counted.err;
    const std::string prefix = "allocations: ";
    ASSERT_EQ(counted.err.compare(0, prefix.size(), prefix), 0) << counted.err;
    const int total = std::stoi(counted.err.substr(prefix.size()));
    ASSERT_GT(total, 0);

    // Each run is a whole benchmark run. The optimised native build tries
    // every allocation (a few hundred runs of well under a second). Sanitizer
    // builds and emulated cross builds run many times slower, so they try an
    // evenly spread sample of about 40, always with the first and the last few.
#if defined(KAV_TEST_UNDER_EMULATOR) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || \
    !defined(NDEBUG)
    const int step = total > 40 ? total / 40 : 1;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    const int step = total > 40 ? total / 40 : 1;
#else
    const int step = 1;
#endif
#else
    const int step = 1;
#endif
    // A few past the count too: threads may allocate a little more in one run
    // than in another.
    for (int n = 1; n <= total + 3; n = (n < 4 || n >= total - 3) ? n + 1 : std::min(n + step, total - 3)) {
        SCOPED_TRACE("failing allocation " + std::to_string(n) + " of " + std::to_string(total));
        ExpectSoundEnd(Run({"--fail-allocation", std::to_string(n)}));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
