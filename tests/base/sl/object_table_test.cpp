// Tests of the archive's identity <-> object table.

#include "base/sl/object_table.h"

#include <vector>

#include <gtest/gtest.h>

#include "base/sl/kav_sl.h"

namespace {

using namespace KavV3Base;

TEST(TSLObjectTable, MapsBothWaysAndOldestPairWins) {
  TSLObjectTable table;
  TKavSL a;
  TKavSL b;
  EXPECT_EQ(table.FindObject(1), nullptr);
  EXPECT_EQ(table.FindIdentity(&a), 0u);
  table.Insert(1, &a);
  table.Insert(1 + TSLObjectTable::BucketCount, &b);  // same identity bucket
  table.Insert(5, &a);
  EXPECT_EQ(table.FindObject(1), &a);
  EXPECT_EQ(table.FindObject(1 + TSLObjectTable::BucketCount), &b);
  EXPECT_EQ(table.FindIdentity(&a), 1u);
  EXPECT_EQ(table.FindIdentity(&b), 1 + TSLObjectTable::BucketCount);
  EXPECT_EQ(table.Count(), 3u);

  table.Remove(&a);
  EXPECT_EQ(table.FindObject(1), nullptr);
  EXPECT_EQ(table.FindObject(5), nullptr);
  EXPECT_EQ(table.FindIdentity(&a), 0u);
  EXPECT_EQ(table.FindObject(1 + TSLObjectTable::BucketCount), &b);
  EXPECT_EQ(table.Count(), 1u);
}

TEST(TSLObjectTable, IdentitiesAreUniqueAndNeverZero) {
  TSLObjectTable table;
  std::vector<TKavSL> objects(3000);
  for (TKavSL& object : objects) table.Insert(table.NewIdentity(), &object);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    ASSERT_EQ(table.FindIdentity(&objects[i]), i + 1);
    ASSERT_EQ(table.FindObject(static_cast<std::uint32_t>(i + 1)), &objects[i]);
  }
}

}  // namespace
