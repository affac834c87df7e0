// Tests of saving and loading object graphs: the reference records, shared and cyclic references, ids that
// differ between processes, and the rejection of malformed archives with every created object freed.

#include "base/sl/object_graph.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"
#include "tests/base/sl/sl_test_util.h"
#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;
using KavTest::AsBytes;
using KavTest::SaveGraph;
using KavTest::TCoded;
using KavTest::TSLTestOwner;

std::int32_t CarryId() { return TSLRefCarry::ClassRecord()->Id; }
std::int32_t OwnerId() { return TSLTestOwner::ClassRecord()->Id; }

TKavSLRoot* NoMemory() { return nullptr; }

class TSLObjectGraph : public ::testing::TestWithParam<std::int32_t> {
protected:
    void SetUp() override {
        TSLTestOwner::ClassRecord();
        static constinit std::atomic<const TSLClassRecord*> noMemory{nullptr};
        SLRegisterClass(noMemory, "TSLTestNoMemory", &TKavSL::ClassRecord, &NoMemory);
        ownersBefore = TSLTestOwner::live.load();
    }

    TCoded Coded() const { return TCoded(GetParam()); }

    // Loads one reference from bytes; the archive stays for inspection.
    bool Load(const std::string& bytes, TKavSLRoot** ref, int maxDepth = TSLArchive::DefaultMaxDepth) {
        stream = std::make_unique<TMemoryStream>(bytes.data(), bytes.size());
        archive = std::make_unique<TSLArchive>(stream.get(), GetParam());
        archive->SetMaxDepth(maxDepth);
        static TKavSLRoot sentinel;
        *ref = &sentinel;  // must be overwritten
        return SLLoadObject(*archive, ref);
    }

    std::string Save(TKavSLRoot* root) {
        bool saved = false;
        const std::vector<unsigned char> bytes = SaveGraph(root, GetParam(), &saved);
        EXPECT_TRUE(saved);
        return std::string(bytes.begin(), bytes.end());
    }

    int ownersBefore = 0;
    std::unique_ptr<TMemoryStream> stream;
    std::unique_ptr<TSLArchive> archive;
};

INSTANTIATE_TEST_SUITE_P(Codings, TSLObjectGraph,
                         ::testing::Values(TSLArchive::CodingText, TSLArchive::CodingBinary),
                         [](const auto& p) { return p.param == TSLArchive::CodingText ? "Text" : "Binary"; });

TEST_P(TSLObjectGraph, NullReferenceIsTagFourAlone) {
    EXPECT_EQ(Save(nullptr), Coded().Int(4).bytes);
    TKavSLRoot* ref = nullptr;
    EXPECT_TRUE(Load(Coded().Int(4).bytes, &ref));
    EXPECT_EQ(ref, nullptr);
}

TEST_P(TSLObjectGraph, TwoCarriersNameTheirClassOnce) {
    TSLRefCarry b;
    TSLRefCarry a;
    a.reference = &b;
    const std::string bytes = Save(&a);
    EXPECT_EQ(
        bytes,
        Coded().Int(3).Str("TSLRefCarry").Int(CarryId()).Int(1).Int(2).Int(CarryId()).Int(2).Int(4).bytes);

    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(bytes, &ref));
    auto* a2 = dynamic_cast<TSLRefCarry*>(ref);
    ASSERT_NE(a2, nullptr);
    auto* b2 = dynamic_cast<TSLRefCarry*>(a2->reference);
    ASSERT_NE(b2, nullptr);
    EXPECT_NE(b2, a2);
    EXPECT_EQ(b2->reference, nullptr);
    EXPECT_EQ(archive->LoadedObjectCount(), 2u);
    delete a2;
    delete b2;
}

TEST_P(TSLObjectGraph, SelfReferenceComesBackAsItself) {
    TSLRefCarry a;
    a.reference = &a;
    const std::string bytes = Save(&a);
    EXPECT_EQ(bytes, Coded().Int(3).Str("TSLRefCarry").Int(CarryId()).Int(1).Int(1).Int(1).bytes);

    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(bytes, &ref));
    auto* a2 = dynamic_cast<TSLRefCarry*>(ref);
    ASSERT_NE(a2, nullptr);
    EXPECT_EQ(a2->reference, a2);
    delete a2;
}

TEST_P(TSLObjectGraph, SharedObjectIsWrittenOnceAndSharedAfterLoading) {
    auto* owner = new TSLTestOwner;
    auto* a = new TSLRefCarry;
    auto* b = new TSLRefCarry;
    TKavSL third;
    a->reference = &third;
    b->reference = &third;
    owner->children = {a, b};
    const std::string bytes = Save(owner);
    EXPECT_EQ(bytes, Coded()
                         .Int(3)
                         .Str("TSLTestOwner")
                         .Int(OwnerId())
                         .Int(1)
                         .Int(2)
                         .Int(3)
                         .Str("TSLRefCarry")
                         .Int(CarryId())
                         .Int(2)
                         .Int(3)
                         .Str("TKavSL")
                         .Int(TKavSL::ClassRecord()->Id)
                         .Int(3)
                         .Int(2)
                         .Int(CarryId())
                         .Int(4)
                         .Int(1)
                         .Int(3)
                         .bytes);
    delete owner;

    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(bytes, &ref));
    auto* owner2 = dynamic_cast<TSLTestOwner*>(ref);
    ASSERT_NE(owner2, nullptr);
    ASSERT_EQ(owner2->children.size(), 2u);
    auto* a2 = dynamic_cast<TSLRefCarry*>(owner2->children[0]);
    auto* b2 = dynamic_cast<TSLRefCarry*>(owner2->children[1]);
    ASSERT_TRUE(a2 != nullptr && b2 != nullptr);
    EXPECT_NE(a2->reference, nullptr);
    EXPECT_EQ(a2->reference, b2->reference);
    EXPECT_EQ(a2->reference->GetClassRecord(), TKavSL::ClassRecord());
    EXPECT_EQ(Save(owner2), bytes);
    archive->DiscardLoadedObjects();
    EXPECT_EQ(TSLTestOwner::live.load(), ownersBefore);
}

TEST_P(TSLObjectGraph, ClassIdsOfAnotherProcessAreTranslatedByName) {
    // Written by a process that gave the owner id 42 and the carrier id 17.
    const std::string bytes = Coded()
                                  .Int(3)
                                  .Str("TSLTestOwner")
                                  .Int(42)
                                  .Int(100)
                                  .Int(2)
                                  .Int(3)
                                  .Str("TSLRefCarry")
                                  .Int(17)
                                  .Int(7)
                                  .Int(2)
                                  .Int(42)
                                  .Int(9)
                                  .Int(0)
                                  .Int(2)
                                  .Int(17)
                                  .Int(8)
                                  .Int(1)
                                  .Int(100)
                                  .bytes;
    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(bytes, &ref));
    auto* owner = dynamic_cast<TSLTestOwner*>(ref);
    ASSERT_NE(owner, nullptr);
    ASSERT_EQ(owner->children.size(), 2u);
    auto* first = dynamic_cast<TSLRefCarry*>(owner->children[0]);
    auto* second = dynamic_cast<TSLRefCarry*>(owner->children[1]);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    auto* inner = dynamic_cast<TSLTestOwner*>(first->reference);
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(inner->children.empty());
    EXPECT_EQ(second->reference, owner);
    EXPECT_EQ(archive->Objects.FindObject(9), inner);
    archive->DiscardLoadedObjects();
    EXPECT_EQ(TSLTestOwner::live.load(), ownersBefore);
}

TEST_P(TSLObjectGraph, MalformedRecordsFailAndFreeWhatTheLoadCreated) {
    const auto tail = [&] { return Coded().Int(3).Str("TSLTestOwner").Int(1).Int(1).Int(3).Int(4); };
    const std::vector<std::string> malformed = {
        tail().Int(5).bytes,                                          // no such tag
        tail().Int(0).bytes,                                          // no such tag
        tail().Int(1).Int(77).bytes,                                  // identity never met
        tail().Int(2).Int(9).Int(2).Int(0).bytes,                     // class id never met
        tail().Int(3).Str("TNoSuchClass").Int(2).Int(2).bytes,        // class not registered
        tail().Int(3).Str("TSLRefCarry").Int(0).Int(2).Int(4).bytes,  // class id below 1
        tail().Int(3).Str("TSLTestNoMemory").Int(2).Int(2).bytes,     // factory fails
        tail().Int(2).Int(1).Int(1).Int(0).bytes,                     // identity met twice
        tail()
            .Int(3)
            .Str("TSLRefCarry")
            .Int(2)
            .Int(2)
            .Int(3)
            .Str("TKavSLRoot")
            .Int(3)
            .Int(3)
            .bytes,                                            // not a TKavSL
        tail().Int(3).Str("TSLRefCarry").Int(2).Int(2).bytes,  // stream ends
    };
    for (const std::string& bytes : malformed) {
        TKavSLRoot* ref = nullptr;
        EXPECT_FALSE(Load(bytes, &ref));
        EXPECT_EQ(ref, nullptr);
        EXPECT_TRUE(archive->Failed());
        EXPECT_EQ(archive->LoadedObjectCount(), 0u);
        EXPECT_EQ(archive->Objects.Count(), 0u);
        EXPECT_EQ(TSLTestOwner::live.load(), ownersBefore);
    }
}

TEST_P(TSLObjectGraph, EveryTruncationFailsWithoutLeavingObjects) {
    // Owners own their children; carriers add a cycle and a shared object.
    auto* o1 = new TSLTestOwner;
    auto* o2 = new TSLTestOwner;
    auto* o3 = new TSLTestOwner;
    auto* a = new TSLRefCarry;
    auto* b = new TSLRefCarry;
    auto* c = new TSLRefCarry;
    o1->children = {a, o3};
    a->reference = o2;
    o2->children = {b};
    b->reference = o1;
    o3->children = {c, nullptr};
    c->reference = a;
    const std::string bytes = Save(o1);
    delete o1;
    delete o2;
    const int live = TSLTestOwner::live.load();

    for (std::size_t length = 0; length < bytes.size(); ++length) {
        TKavSLRoot* ref = nullptr;
        ASSERT_FALSE(Load(bytes.substr(0, length), &ref)) << length;
        ASSERT_EQ(ref, nullptr);
        ASSERT_EQ(TSLTestOwner::live.load(), live);
    }
    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(bytes, &ref));
    EXPECT_EQ(TSLTestOwner::live.load(), live + 3);
    EXPECT_EQ(Save(ref), bytes);
    archive->DiscardLoadedObjects();
    EXPECT_EQ(TSLTestOwner::live.load(), live);
}

TEST_P(TSLObjectGraph, SaveRefusesObjectsWithoutAClassRecord) {
    TKavSLRoot bare;
    bool saved = true;
    EXPECT_TRUE(SaveGraph(&bare, GetParam(), &saved).empty());
    EXPECT_FALSE(saved);

    TSLRefCarry carry;
    carry.reference = nullptr;
    TSLRefCarry outer;
    outer.reference = &carry;
    TMemoryStream out;
    TSLArchive archive1(&out, GetParam());
    TKavSLRoot* bareRef = &bare;
    EXPECT_FALSE(SLSaveObject(archive1, &bareRef));
    EXPECT_TRUE(archive1.Failed());
    EXPECT_EQ(out.Size(), 0u);
    TSLRefCarry* outerRef = &outer;
    EXPECT_FALSE(SLSaveObject(archive1, &outerRef));  // a failed archive saves nothing more
    EXPECT_EQ(out.Size(), 0u);
}

TEST_P(TSLObjectGraph, NestingBeyondTheLimitFailsBothWays) {
    std::vector<TSLRefCarry> chain(20);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) chain[i].reference = &chain[i + 1];
    const std::string bytes = Save(&chain[0]);

    TMemoryStream out;
    TSLArchive shallow(&out, GetParam());
    shallow.SetMaxDepth(10);
    TSLRefCarry* first = &chain[0];
    EXPECT_FALSE(SLSaveObject(shallow, &first));

    TKavSLRoot* ref = nullptr;
    EXPECT_FALSE(Load(bytes, &ref, 10));
    EXPECT_EQ(archive->LoadedObjectCount(), 0u);
    ASSERT_TRUE(Load(bytes, &ref, 20));
    EXPECT_EQ(archive->LoadedObjectCount(), 20u);
    archive->DiscardLoadedObjects();
}

TEST_P(TSLObjectGraph, IdentityOnlyReferencesResolveInTheLoadingArchive) {
    TSLRefCarry a;
    TSLRefCarry b;
    TMemoryStream out;
    TSLArchive saving(&out, GetParam(), TSLArchive::ReferenceIdentity);
    TSLRefCarry* none = nullptr;
    TSLRefCarry* pa = &a;
    TSLRefCarry* pb = &b;
    ASSERT_TRUE(SLSaveObject(saving, &pa));
    ASSERT_TRUE(SLSaveObject(saving, &pb));
    ASSERT_TRUE(SLSaveObjectIdentity(saving, &pb));
    ASSERT_TRUE(SLSaveObjectIdentity(saving, &none));
    EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().end()), Coded()
                                                                       .Int(3)
                                                                       .Str("TSLRefCarry")
                                                                       .Int(CarryId())
                                                                       .Int(1)
                                                                       .Int(4)
                                                                       .Int(2)
                                                                       .Int(CarryId())
                                                                       .Int(2)
                                                                       .Int(4)
                                                                       .Int(2)
                                                                       .Int(0)
                                                                       .bytes);

    out.Seek(0);
    TSLArchive loading(&out, GetParam(), TSLArchive::ReferenceIdentity);
    TSLRefCarry* la = nullptr;
    TSLRefCarry* lb = nullptr;
    std::uint32_t identity = 99;
    std::uint32_t nullIdentity = 99;
    ASSERT_TRUE(SLLoadObject(loading, &la));
    ASSERT_TRUE(SLLoadObject(loading, &lb));
    ASSERT_TRUE(SLLoadObjectIdentity(loading, &identity));
    ASSERT_TRUE(SLLoadObjectIdentity(loading, &nullIdentity));
    EXPECT_EQ(loading.Objects.FindObject(identity), lb);
    EXPECT_EQ(nullIdentity, 0u);
    EXPECT_EQ(loading.Objects.FindObject(nullIdentity), nullptr);
    loading.DiscardLoadedObjects();
}

TEST_P(TSLObjectGraph, AnObjectNamedByIdentityFirstIsWrittenInFullAtItsInlineSave) {
    // Named by identity before it is saved inline: the inline save is its one
    // full record, under the identity already written, not a back-reference
    // to a record that the archive does not hold.
    TSLRefCarry carrier;
    TMemoryStream out;
    TSLArchive saving(&out, GetParam(), TSLArchive::ReferenceIdentity);
    TSLRefCarry* place = &carrier;
    ASSERT_TRUE(SLSaveObjectIdentity(saving, &place));
    ASSERT_TRUE(SLSaveObject(saving, &place));
    ASSERT_TRUE(SLSaveObject(saving, &place));  // now a back-reference
    EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().end()),
              Coded().Int(1).Int(3).Str("TSLRefCarry").Int(CarryId()).Int(1).Int(4).Int(1).Int(1).bytes);

    out.Seek(0);
    TSLArchive loading(&out, GetParam(), TSLArchive::ReferenceIdentity);
    std::uint32_t identity = 0;
    TSLRefCarry* loaded = nullptr;
    TSLRefCarry* again = nullptr;
    ASSERT_TRUE(SLLoadObjectIdentity(loading, &identity));
    ASSERT_TRUE(SLLoadObject(loading, &loaded));
    ASSERT_TRUE(SLLoadObject(loading, &again));
    EXPECT_NE(loaded, nullptr);
    EXPECT_EQ(again, loaded);
    EXPECT_EQ(loading.Objects.FindObject(identity), loaded);
    loading.DiscardLoadedObjects();
}

// Loads whatever one record of the given bytes holds, for the death tests.
void LoadFrom(const std::string& bytes, std::int32_t coding) {
    TMemoryStream stream(bytes.data(), bytes.size());
    TSLArchive archive(&stream, coding);
    TKavSLRoot* ref = nullptr;
    if (SLLoadObject(archive, &ref)) archive.DiscardLoadedObjects();
}

// Its load phase throws away every object that the load is building.
class TSLTestDiscarder : public TKavSL {
public:
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }
    void LoadPost(TSLArchive& archive) override { archive.DiscardLoadedObjects(); }
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TSLTestDiscarder", &TKavSL::ClassRecord,
                               &SLNewInstance<TSLTestDiscarder>);
    }
};

using TSLObjectGraphDeathTest = TSLObjectGraph;

INSTANTIATE_TEST_SUITE_P(Codings, TSLObjectGraphDeathTest,
                         ::testing::Values(TSLArchive::CodingText, TSLArchive::CodingBinary),
                         [](const auto& p) { return p.param == TSLArchive::CodingText ? "Text" : "Binary"; });

TEST_P(TSLObjectGraphDeathTest, AnArchiveUsedBothWaysStopsTheProgram) {
    KAV_START_DEATH_TEST();
    const std::int32_t coding = GetParam();
    EXPECT_DEATH(
        {
            TMemoryStream bytes;
            TSLArchive both(&bytes, coding);
            TKavSLRoot* none = nullptr;
            static_cast<void>(SLSaveObject(both, &none));
            bytes.Seek(0);
            static_cast<void>(SLLoadObject(both, &none));
        },
        "contract violated: a TSLArchive serves one save or one load: it was used to save and now to load");
    EXPECT_DEATH(
        {
            TMemoryStream bytes(AsBytes(Coded().Int(4).Int(4).bytes));
            TSLArchive both(&bytes, coding);
            std::uint32_t identity = 0;
            static_cast<void>(SLLoadObjectIdentity(both, &identity));
            TSLRefCarry carrier;
            TSLRefCarry* place = &carrier;
            static_cast<void>(SLSaveObjectIdentity(both, &place));
        },
        "it was used to load and now to save");
}

TEST_P(TSLObjectGraphDeathTest, AMissingPlaceForAReferenceStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TMemoryStream bytes;
    TSLArchive fresh(&bytes, GetParam());
    EXPECT_DEATH(static_cast<void>(SLSaveObject(fresh, static_cast<TKavSLRoot* const*>(nullptr))),
                 "contract violated: SLSaveObject needs the place of a reference");
    EXPECT_DEATH(static_cast<void>(SLLoadObject(fresh, static_cast<TKavSLRoot**>(nullptr))),
                 "contract violated: SLLoadObject needs a place");
    EXPECT_DEATH(static_cast<void>(SLLoadObjectIdentity(fresh, nullptr)),
                 "contract violated: SLLoadObjectIdentity needs a place for the identity");
}

TEST_P(TSLObjectGraphDeathTest, DiscardingTheLoadedObjectsDuringALoadStopsTheProgram) {
    KAV_START_DEATH_TEST();
    const std::int32_t id = TSLTestDiscarder::ClassRecord()->Id;
    EXPECT_DEATH(LoadFrom(Coded().Int(3).Str("TSLTestDiscarder").Int(id).Int(1).bytes, GetParam()),
                 "contract violated: TSLArchive::DiscardLoadedObjects during a load");
}

TEST_P(TSLObjectGraphDeathTest, ALoadedObjectBeyondTheCountStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TSLRefCarry carrier;
    TKavSLRoot* ref = nullptr;
    ASSERT_TRUE(Load(Save(&carrier), &ref));
    ASSERT_EQ(archive->LoadedObjectCount(), 1u);
    EXPECT_EQ(archive->LoadedObject(0), ref);
    EXPECT_DEATH(static_cast<void>(archive->LoadedObject(1)),
                 "contract violated: TSLArchive::LoadedObject\\(1\\) beyond the 1 objects loaded");
    archive->DiscardLoadedObjects();
    EXPECT_DEATH(static_cast<void>(archive->LoadedObject(0)), "LoadedObject\\(0\\) beyond the 0 objects");
}

TEST_P(TSLObjectGraphDeathTest, ANegativeNestingLimitStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TMemoryStream out;
    TSLArchive limited(&out, GetParam());
    limited.SetMaxDepth(0);  // no object at all, but a limit
    EXPECT_EQ(limited.GetMaxDepth(), 0);
    EXPECT_DEATH(limited.SetMaxDepth(-1),
                 "contract violated: TSLArchive::SetMaxDepth\\(-1\\): a nesting limit cannot be negative");
}

}  // namespace
