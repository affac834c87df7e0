// Tests of the reference carrier: its record, its factory, what it saves and what it leaves alone.

#include "base/sl/ref_carry.h"

#include <memory>

#include <gtest/gtest.h>

#include "tests/base/sl/sl_test_util.h"

namespace {

using namespace KavV3Base;
using KavTest::SaveGraph;
using KavTest::TSLTestOwner;

TEST(TSLRefCarry, IsRegisteredUnderTKavSLAndMadeByItsFactory) {
    const TSLClassRecord* record = TSLRefCarry::ClassRecord();
    EXPECT_EQ(record->Name, TString("TSLRefCarry"));
    EXPECT_EQ(record->Base, TKavSL::ClassRecord());
    const std::unique_ptr<TKavSLRoot> made(record->Factory());
    auto* carry = dynamic_cast<TSLRefCarry*>(made.get());
    ASSERT_NE(carry, nullptr);
    EXPECT_EQ(carry->count, 0);
    EXPECT_EQ(carry->reference, nullptr);
    EXPECT_EQ(carry->GetClassRecord(), record);
}

TEST(TSLRefCarry, CountIsNotSavedAndTheReferencedObjectIsNotOwned) {
    const int owners = TSLTestOwner::live.load();
    {
        TSLTestOwner referenced;
        auto* carry = new TSLRefCarry;
        carry->reference = &referenced;
        carry->count = 5;
        TSLRefCarry plain;
        plain.reference = &referenced;
        EXPECT_EQ(SaveGraph(carry, TSLArchive::CodingText), SaveGraph(&plain, TSLArchive::CodingText));
        delete carry;  // must leave `referenced` alone
        EXPECT_EQ(TSLTestOwner::live.load(), owners + 1);
    }
    EXPECT_EQ(TSLTestOwner::live.load(), owners);
}

TEST(TSLRefCarry, DiscardingLinksDropsTheReference) {
    TSLRefCarry other;
    TSLRefCarry carry;
    carry.reference = &other;
    carry.SLDiscardLinks();
    EXPECT_EQ(carry.reference, nullptr);
}

}  // namespace
