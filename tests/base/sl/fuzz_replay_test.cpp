// Replays the fuzzers' committed seed corpus and every input kept as a regression through the fuzz harness.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/archive.h"
#include "fuzz/sl_fuzz_harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs every file under folder/<coding>; returns how many there were.
int Replay(const char* folder, bool seedsMustLoad) {
    int count = 0;
    for (const auto& [name, coding] : {std::pair{"text", KavV3Base::TSLArchive::CodingText},
                                       std::pair{"binary", KavV3Base::TSLArchive::CodingBinary}}) {
        const fs::path dir = fs::path(KAV_FUZZ_DIR) / folder / name;
        if (!fs::exists(dir)) continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            const std::vector<std::uint8_t> bytes = ReadFile(entry.path());
            const KavFuzz::TFuzzResult result = KavFuzz::LoadArchiveBytes(bytes.data(), bytes.size(), coding);
            EXPECT_EQ(result.problem, nullptr) << result.problem;
            if (seedsMustLoad && entry.path().filename().string().starts_with("seed-")) {
                EXPECT_TRUE(result.loadedAsReference);
            }
            ++count;
        }
    }
    return count;
}

TEST(SLArchiveFuzzInputs, CommittedSeedsLoadAndKeepTheirProperties) { EXPECT_GT(Replay("corpus", true), 0); }

TEST(SLArchiveFuzzInputs, InputsThatOnceFailedStayHarmless) { EXPECT_GT(Replay("regressions", false), 0); }

}  // namespace
