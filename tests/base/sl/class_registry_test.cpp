// Tests of the class registry: registration rules, hashing, lookups and the per-class accessors.

#include "base/sl/class_registry.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/kav_sl.h"
#include "base/sl/ref_carry.h"

namespace {

using namespace KavV3Base;

TSLClassRecord Record(const char* name, std::int32_t id = 0, TSLFactory factory = nullptr) {
    TSLClassRecord record;
    record.Name = TString(name);
    record.Id = id;
    record.Factory = factory;
    return record;
}

// Runs body(registry) on a fresh registry that is searched in registration
// order, and on one that already holds enough records (with ids of their own,
// so NextId stays 1) to have built its buckets.
template <class F>
void ForBothLookups(F body) {
    for (const std::size_t fillers : {std::size_t{0}, TKavSLRegister::LinearLimit + 1}) {
        SCOPED_TRACE(fillers == 0 ? "scanned" : "hashed");
        TKavSLRegister registry;
        for (std::size_t i = 0; i < fillers; ++i)
            registry.Register(
                Record(("Filler" + std::to_string(i)).c_str(), static_cast<std::int32_t>(100000 + i)));
        body(registry);
    }
}

TEST(TKavSLRegister, HandsOutIdsAndKeepsTheFirstRecordOfAName) {
    ForBothLookups([](TKavSLRegister& registry) {
        EXPECT_EQ(registry.GetNextId(), 1);
        const TSLClassRecord* a = registry.Register(Record("A"));
        const TSLClassRecord* b = registry.Register(Record("B"));
        EXPECT_EQ(a->Id, 1);
        EXPECT_EQ(b->Id, 2);

        const TSLClassRecord* again = registry.Register(Record("A", 9, &TKavSL::NewInstance));
        EXPECT_EQ(again, a);
        EXPECT_EQ(again->Id, 1);
        EXPECT_EQ(again->Factory, nullptr);
        EXPECT_EQ(registry.GetNextId(), 3);
        EXPECT_EQ(registry.FindById(9), nullptr);
    });
}

TEST(TKavSLRegister, ExplicitIdIsKeptAndNextIdDoesNotMove) {
    TKavSLRegister registry;
    const TSLClassRecord* seven = registry.Register(Record("Seven", 7));
    EXPECT_EQ(seven->Id, 7);
    EXPECT_EQ(registry.GetNextId(), 1);
    EXPECT_EQ(registry.FindById(7), seven);
    EXPECT_EQ(registry.Register(Record("Next"))->Id, 1);
    EXPECT_EQ(registry.Register(Record("Negative", -3))->Id, 2);
}

TEST(TKavSLRegister, KeysSharingABucketAreToldApart) {
    ASSERT_EQ(TKavSLRegister::NameBucket("ab"), TKavSLRegister::NameBucket("ba"));
    ForBothLookups([](TKavSLRegister& registry) {
        const TSLClassRecord* ab = registry.Register(Record("ab", 1));
        const TSLClassRecord* ba = registry.Register(Record("ba", 258));  // same id bucket as 1
        EXPECT_EQ(registry.FindByName("ab"), ab);
        EXPECT_EQ(registry.FindByName("ba"), ba);
        EXPECT_EQ(registry.FindById(1), ab);
        EXPECT_EQ(registry.FindById(258), ba);
        EXPECT_EQ(registry.FindByName("a"), nullptr);
        EXPECT_EQ(registry.FindByName(""), nullptr);
        EXPECT_EQ(registry.FindById(515), nullptr);
    });
    // Bytes count as unsigned: a high byte must not pull the sum negative.
    EXPECT_EQ(TKavSLRegister::NameBucket("\xff"), 255u);
    EXPECT_EQ(TKavSLRegister::NameBucket(""), 0u);
}

TEST(TKavSLRegister, IdCollisionFindsTheOlderRecord) {
    ForBothLookups([](TKavSLRegister& registry) {
        const TSLClassRecord* older = registry.Register(Record("Older", 3));
        registry.Register(Record("Newer", 3));
        EXPECT_EQ(registry.FindById(3), older);
    });
}

TEST(TKavSLRegister, RecordsStayWhereTheyWereStored) {
    TKavSLRegister registry;
    std::vector<const TSLClassRecord*> stored;
    for (int i = 0; i < 2000; ++i)
        stored.push_back(registry.Register(Record(("C" + std::to_string(i)).c_str())));
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "C" + std::to_string(i);
        ASSERT_EQ(registry.FindByName(name.c_str()), stored[static_cast<std::size_t>(i)]);
        ASSERT_EQ(registry.FindById(i + 1), stored[static_cast<std::size_t>(i)]);
        ASSERT_EQ(stored[static_cast<std::size_t>(i)]->Name, TString(name.c_str()));
    }
}

TEST(TKavSLRegister, InstanceAndRecordsAreTheSameOnEveryThread) {
    TKavSLRegister* const registry = TKavSLRegister::Instance();
    const TSLClassRecord* const carry = TSLRefCarry::ClassRecord();
    std::atomic<int> agreed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                TSLRefCarry object;
                if (TKavSLRegister::Instance() == registry && object.GetClassRecord() == carry &&
                    registry->FindByName("TSLRefCarry") == carry && registry->FindById(carry->Id) == carry)
                    agreed.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(agreed.load(), 4000);
}

// A two-level chain of classes seen by the registry for the first time.
struct TChainParent : TKavSL {
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TChainParent", &TKavSL::ClassRecord, &SLNewInstance<TChainParent>);
    }
};
struct TChainChild : TChainParent {
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TChainChild", &TChainParent::ClassRecord, &SLNewInstance<TChainChild>);
    }
};

TEST(SLRegisterClass, RegistersTheParentChainFirstAndOnlyOnce) {
    const std::int32_t nextId = TKavSLRegister::Instance()->GetNextId();
    const TSLClassRecord* child = TChainChild::ClassRecord();
    const TSLClassRecord* parent = TKavSLRegister::Instance()->FindByName("TChainParent");
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->Id, nextId);
    EXPECT_EQ(child->Id, nextId + 1);
    EXPECT_EQ(child->Base, parent);
    EXPECT_EQ(parent->Base, TKavSL::ClassRecord());
    EXPECT_EQ(TChainParent::ClassRecord(), parent);
    EXPECT_EQ(TChainChild::ClassRecord(), child);
    EXPECT_EQ(TKavSLRegister::Instance()->GetNextId(), nextId + 2);
    EXPECT_EQ(child->Factory, &SLNewInstance<TChainChild>);
}

}  // namespace
