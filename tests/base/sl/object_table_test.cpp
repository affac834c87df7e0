// Tests of the archive's identity <-> object table.

#include "base/sl/object_table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/kav_sl.h"
#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;

// Runs body(table) on an empty table, which scans its pairs, and on one that
// holds enough other pairs (identities far above the ones tested) to have
// built its buckets.
template <class F>
void ForBothLookups(F body) {
    std::vector<TKavSL> fillers(TSLObjectTable::LinearLimit + 1);
    for (const bool hashed : {false, true}) {
        SCOPED_TRACE(hashed ? "hashed" : "scanned");
        TSLObjectTable table;
        if (hashed)
            for (std::size_t i = 0; i < fillers.size(); ++i)
                table.Insert(static_cast<std::uint32_t>(100000 + i), &fillers[i]);
        body(table, hashed ? fillers.size() : 0);
    }
}

TEST(TSLObjectTable, MapsBothWaysAndOldestPairWins) {
    ForBothLookups([](TSLObjectTable& table, std::size_t held) {
        TKavSL a;
        TKavSL b;
        EXPECT_EQ(table.FindObject(1), nullptr);
        EXPECT_EQ(table.FindIdentity(&a), 0u);
        table.Insert(1, &a);
        table.Insert(1 + TSLObjectTable::BucketCount, &b);  // same identity bucket
        table.Insert(5, &a);
        table.Insert(1, &b);  // an identity twice: the older pair is found
        EXPECT_EQ(table.FindObject(1), &a);
        EXPECT_EQ(table.FindObject(1 + TSLObjectTable::BucketCount), &b);
        EXPECT_EQ(table.FindIdentity(&a), 1u);
        EXPECT_EQ(table.FindIdentity(&b), 1 + TSLObjectTable::BucketCount);
        EXPECT_EQ(table.Count(), held + 4);

        table.Remove(&a);
        EXPECT_EQ(table.FindObject(1), &b);
        EXPECT_EQ(table.FindObject(5), nullptr);
        EXPECT_EQ(table.FindIdentity(&a), 0u);
        EXPECT_EQ(table.FindObject(1 + TSLObjectTable::BucketCount), &b);
        EXPECT_EQ(table.Count(), held + 2);
        // A removed object's address may come back as a new object.
        table.Insert(7, &a);
        EXPECT_EQ(table.FindIdentity(&a), 7u);
        EXPECT_EQ(table.FindObject(7), &a);
    });
}

TEST(TSLObjectTable, IdentitiesAreUniqueAndNeverZero) {
    // Enough pairs to make the table double its buckets twice; every other
    // one removed half-way, so the rebuilt buckets pass over removed pairs.
    TSLObjectTable table;
    std::vector<TKavSL> objects(5000);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        table.Insert(table.NewIdentity(), &objects[i]);
        if (i == objects.size() / 2)
            for (std::size_t j = 0; j <= i; j += 2) table.Remove(&objects[j]);
    }
    EXPECT_EQ(table.Count(), objects.size() - (objects.size() / 2 / 2 + 1));
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const bool removed = i <= objects.size() / 2 && i % 2 == 0;
        ASSERT_EQ(table.FindIdentity(&objects[i]), removed ? 0 : i + 1);
        ASSERT_EQ(table.FindObject(static_cast<std::uint32_t>(i + 1)), removed ? nullptr : &objects[i]);
    }
}

TEST(TSLObjectTableDeathTest, InsertingNoObjectStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TSLObjectTable table;
    EXPECT_DEATH(table.Insert(3, nullptr), "contract violated: TSLObjectTable::Insert\\(3, null\\)");
    EXPECT_EQ(table.Count(), 0u);
}

}  // namespace
