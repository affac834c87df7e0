// Tests that the framework's start-up unit registers every serializable class before main, in the fixed
// order, both in this program and in a program linked like the benchmark whose code names none of them.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/class_registry.h"
#include "base/sl/kav_sl.h"
#include "tests/support/run_program.h"
#include "tests/support/system_skips.h"

namespace {

using namespace KavV3Base;

struct TExpected {
    const char* name;
    std::int32_t id;
    const char* base;
};

// This program names no serializable class either, so the registry holds
// exactly what start-up put there.
const std::vector<TExpected> kStartupClasses = {
    {"TKavSLRoot", 1, nullptr},    {"TKavSL", 2, "TKavSLRoot"},  {"TVBitmap", 3, "TKavSL"},
    {"TBitmap", 4, "TVBitmap"},    {"TVTree", 5, "TKavSL"},      {"TTree", 6, "TVTree"},
    {"TChangable", 7, "TKavSL"},   {"TSLRefCarry", 8, "TKavSL"}, {"TChangeChecker", 9, "TKavSL"},
    {"TFileSearch", 10, "TKavSL"}, {"TStringID", 11, "TKavSL"},  {"TGSID", 12, "TKavSL"},
};

std::string ExpectedListing() {
    std::string listing;
    for (const TExpected& e : kStartupClasses)
        listing += std::to_string(e.id) + " " + e.name + " " + (e.base != nullptr ? e.base : "-") + "\n";
    return listing;
}

TEST(TKavSLRegister, StartUpRegisteredExactlyTheFrameworkClassesInOrder) {
    const TKavSLRegister* registry = TKavSLRegister::Instance();
    ASSERT_NE(registry, nullptr);
    EXPECT_EQ(registry->GetNextId(), static_cast<std::int32_t>(kStartupClasses.size()) + 1);
    for (const TExpected& e : kStartupClasses) {
        SCOPED_TRACE(e.name);
        const TSLClassRecord* record = registry->FindByName(e.name);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->Id, e.id);
        EXPECT_EQ(registry->FindById(e.id), record);
        ASSERT_NE(record->Factory, nullptr);
        if (e.base == nullptr) {
            EXPECT_EQ(record->Base, nullptr);
        } else {
            ASSERT_NE(record->Base, nullptr);
            EXPECT_EQ(record->Base, registry->FindByName(e.base));
        }
        // The factory makes an object of the class itself (the root has none).
        TKavSLRoot* made = record->Factory();
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->GetClassRecord(), e.base == nullptr ? nullptr : record);
        delete made;
    }
}

TEST(TKavSLRegister, AProgramLinkedLikeTheBenchmarkRegistersTheSameClasses) {
    KAV_REQUIRE_CHILD_PROCESSES();
    const KavTest::TProgramRun run =
        KavTest::RunProgram(KAV_REGISTRY_PROBE, {}, std::filesystem::temp_directory_path());
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string listing = KavTest::WithUnixLineEnds(run.out);
    EXPECT_EQ(listing, ExpectedListing());
}

}  // namespace
