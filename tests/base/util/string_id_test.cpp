// Tests of TStringID: id order, buckets, bounds, the save format, loads that replace or refuse, and Global.

#include "base/util/string_id.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/base/util/util_test_util.h"
#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;
using namespace KavUtilTest;

TEST(TStringID, HandsOutIdsInFirstSeenOrder) {
    TStringID table;
    EXPECT_EQ(table.GetID(""), 0u);
    EXPECT_EQ(table.GetID(TString()), 0u);  // no storage is the empty text too
    EXPECT_EQ(table.GetID("alpha"), 1u);
    EXPECT_EQ(table.GetID("beta"), 2u);
    EXPECT_EQ(table.GetID("alpha"), 1u);
    EXPECT_EQ(table.GetCount(), 3u);
    EXPECT_EQ(table.GetText(0), TString(""));
    EXPECT_EQ(table.GetText(2), TString("beta"));
}

TEST(TStringIDDeathTest, TheTextOfAnIdNeverGivenOutStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TStringID table;
    table.GetID("alpha");
    EXPECT_DEATH(static_cast<void>(table.GetText(2)),
                 "contract violated: TStringID::GetText\\(2\\): the table has given out the ids 0 to 1");
    EXPECT_DEATH(static_cast<void>(table.GetText(UINT32_MAX)), "TStringID::GetText");
}

TEST(TStringID, TextsWithEqualByteSumsShareABucketInInsertionOrder) {
    TStringID table;
    const std::uint32_t ab = table.GetID("ab");
    const std::uint32_t ba = table.GetID("ba");
    EXPECT_NE(ab, ba);
    EXPECT_EQ(TStringID::BucketOf("ab"), TStringID::BucketOf("ba"));
    EXPECT_EQ(table.GetBucket(TStringID::BucketOf("ab")), (std::vector<std::uint32_t>{ab, ba}));
    // Eight bytes of 127 and one of 11 sum to 1027: bucket 0, after the empty text.
    const TString wraps = TString(std::string(8, '\x7f').append("\x0b").c_str());
    EXPECT_EQ(TStringID::HashText(wraps), 1027u);
    const std::uint32_t id = table.GetID(wraps);
    EXPECT_EQ(table.GetBucket(0), (std::vector<std::uint32_t>{0, id}));
    EXPECT_EQ(table.GetID(wraps), id);
    // High bytes count as unsigned.
    EXPECT_EQ(TStringID::HashText("\xff"), 255u);
}

TEST(TStringID, NewTableSavesOneEntryAndOneIndexedId) {
    TStringID table;
    TMemoryStream binary;
    TSLArchive binaryArchive(&binary, TSLArchive::CodingBinary);
    table.Save(binaryArchive);
    EXPECT_EQ(binary.Bytes(), (TBytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));

    TMemoryStream text;
    TSLArchive textArchive(&text, TSLArchive::CodingText);
    table.Save(textArchive);
    EXPECT_EQ(AsText(text.Bytes()), "1\n0\n\"\"\n1\n0\n");
}

TEST(TStringID, GraphRoundTripKeepsIdsAndBuckets) {
    ForBothCodings([](std::int32_t coding) {
        TStringID table;
        for (const char* text : {"ab", "ba", "line\nbreak", "quote\"back\\slash", "z"}) table.GetID(text);
        const TBytes bytes = SaveGraph(&table, coding);

        TStringID* copy = LoadGraph<TStringID>(bytes, coding);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->GetCount(), table.GetCount());
        for (std::uint32_t id = 0; id < table.GetCount(); ++id) EXPECT_EQ(copy->GetID(table.GetText(id)), id);
        for (std::uint32_t b = 0; b < TStringID::BucketCount; ++b)
            EXPECT_EQ(copy->GetBucket(b), table.GetBucket(b));
        EXPECT_EQ(SaveGraph(copy, coding), bytes);
        delete copy;
    });
}

TEST(TStringID, LoadReplacesEntriesAndIndex) {
    ForBothCodings([](std::int32_t coding) {
        TStringID small;
        small.GetID("kept");
        TMemoryStream saved;
        TSLArchive saving(&saved, coding);
        small.Save(saving);

        TStringID big;
        for (const char* text : {"one", "two", "kept", "three"}) big.GetID(text);
        TMemoryStream in(saved.Bytes());
        TSLArchive loading(&in, coding);
        big.Load(loading);
        ASSERT_FALSE(loading.Failed());
        EXPECT_EQ(big.GetCount(), 2u);
        EXPECT_EQ(big.GetID("kept"), 1u);
        // No id of the old table lingers in the index: it saves what it loaded.
        TMemoryStream resaved;
        TSLArchive resaving(&resaved, coding);
        big.Save(resaving);
        EXPECT_EQ(resaved.Bytes(), saved.Bytes());
        EXPECT_EQ(big.GetID("one"), 2u);  // forgotten, so new again
    });
}

// Writes a table by hand: entries as (id, text) pairs, then the index ids.
TBytes HandTable(std::int32_t coding, std::uint32_t count,
                 const std::vector<std::pair<std::int32_t, const char*>>& entries, std::uint32_t indexed,
                 const std::vector<std::int32_t>& ids) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    SLWriteSize(archive, &count);
    for (const auto& [id, text] : entries) {
        const TString value(text);
        SLWriteInt(archive, &id);
        SLWriteString(archive, &value);
    }
    SLWriteSize(archive, &indexed);
    for (const std::int32_t id : ids) SLWriteInt(archive, &id);
    return stream.Bytes();
}

TEST(TStringID, MalformedTablesAreRefusedAndChangeNothing) {
    ForBothCodings([](std::int32_t coding) {
        const std::vector<TBytes> malformed = {
            HandTable(coding, 2, {{0, ""}, {5, "x"}}, 2, {0, 1}),        // id is not its position
            HandTable(coding, 2, {{0, ""}, {1, "x"}}, 2, {0, 2}),        // index id out of range
            HandTable(coding, 2, {{0, ""}, {1, "x"}}, 2, {0, -1}),       // negative index id
            HandTable(coding, 1, {{0, "not empty"}}, 1, {0}),            // entry 0 must be the empty text
            HandTable(coding, 0, {}, 0, {}),                             // a table is never empty
            HandTable(coding, 0xFFFFFFFFu, {{0, ""}, {1, "x"}}, 0, {}),  // far more entries than bytes
            HandTable(coding, 1, {{0, ""}}, 0xFFFFFFFFu, {0}),           // far more ids than bytes
        };
        for (std::size_t i = 0; i < malformed.size(); ++i) {
            SCOPED_TRACE(i);
            TStringID table;
            table.GetID("before");
            TMemoryStream in(malformed[i]);
            TSLArchive archive(&in, coding);
            table.Load(archive);
            EXPECT_TRUE(archive.Failed());
            EXPECT_EQ(table.GetCount(), 2u);
            EXPECT_EQ(table.GetID("before"), 1u);
        }
    });
}

TEST(TStringID, LoadKeepsEveryIdIndexedOnce) {
    ForBothCodings([](std::int32_t coding) {
        // Id 1 listed twice, id 2 missing: a foreign table with a stale index.
        const TBytes bytes = HandTable(coding, 3, {{0, ""}, {1, "ab"}, {2, "ba"}}, 3, {1, 0, 1});
        TStringID table;
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding);
        table.Load(archive);
        ASSERT_FALSE(archive.Failed());
        EXPECT_EQ(table.GetBucket(TStringID::BucketOf("ab")), (std::vector<std::uint32_t>{1, 2}));
        EXPECT_EQ(table.GetBucket(0), (std::vector<std::uint32_t>{0}));
        EXPECT_EQ(table.GetID("ba"), 2u);
        EXPECT_EQ(table.GetCount(), 3u);
    });
}

TEST(TStringID, GlobalIsOneTableForEveryThread) {
    constexpr int kThreads = 8;
    std::atomic<TStringID*> seen[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            seen[i].store(TStringID::Global());
        });
    }
    for (std::thread& t : threads) t.join();
    TStringID* global = TStringID::Global();
    ASSERT_NE(global, nullptr);
    for (const auto& s : seen) EXPECT_EQ(s.load(), global);
    EXPECT_EQ(global->GetID(""), 0u);
}

}  // namespace
