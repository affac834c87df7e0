// Tests of the serializable roots: class records, factories and the default operations.

#include "base/sl/kav_sl.h"

#include <atomic>
#include <memory>
#include <type_traits>

#include <gtest/gtest.h>

#include "base/sl/archive.h"
#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"

namespace {

using namespace KavV3Base;

TEST(TKavSLRoot, HasNoRecordButTopsTheRegisteredChain) {
    TKavSLRoot root;
    EXPECT_EQ(root.GetClassRecord(), nullptr);

    const TSLClassRecord* record = TKavSLRoot::ClassRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Name, TString("TKavSLRoot"));
    EXPECT_EQ(record->Base, nullptr);
    EXPECT_EQ(TKavSLRegister::Instance()->FindById(record->Id), record);
}

TEST(TKavSL, RecordIsTKavSLBasedOnTheRootAndSharedByAllInstances) {
    TKavSL a;
    TKavSL b;
    const TSLClassRecord* record = a.GetClassRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record, b.GetClassRecord());
    EXPECT_EQ(record, TKavSL::ClassRecord());
    EXPECT_EQ(record->Name, TString("TKavSL"));
    EXPECT_EQ(record->Base, TKavSLRoot::ClassRecord());
    EXPECT_EQ(TKavSLRegister::Instance()->FindByName("TKavSL"), record);
}

// A class that declares GetClassRecord exactly as the root does, a
// non-const operation returning a const record: it overrides the root's.
class TOwnRecord : public TKavSL {
public:
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TKavSLTestOwnRecord", &TKavSL::ClassRecord,
                               &SLNewInstance<TOwnRecord>);
    }
};

TEST(TKavSLRoot, GetClassRecordIsOverriddenByTheDerivedDeclaration) {
    static_assert(
        std::is_same_v<decltype(&TKavSLRoot::GetClassRecord), const TSLClassRecord* (TKavSLRoot::*)()>);
    TOwnRecord own;
    TKavSLRoot* root = &own;
    ASSERT_NE(TOwnRecord::ClassRecord(), nullptr);
    EXPECT_EQ(root->GetClassRecord(), TOwnRecord::ClassRecord());
    EXPECT_EQ(TOwnRecord::ClassRecord()->Base, TKavSL::ClassRecord());
}

TEST(TKavSL, FactoriesCreateInstancesOfTheirClass) {
    const std::unique_ptr<TKavSLRoot> root(TKavSLRoot::ClassRecord()->Factory());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetClassRecord(), nullptr);
    const std::unique_ptr<TKavSLRoot> sl(TKavSL::ClassRecord()->Factory());
    ASSERT_NE(sl, nullptr);
    EXPECT_EQ(sl->GetClassRecord(), TKavSL::ClassRecord());
}

TEST(TKavSL, DefaultPhasesCodeNothingAndHooksAnswerZero) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
        TMemoryStream stream("1\n2\n", 4);
        TSLArchive archive(&stream, coding);
        TKavSL sl;
        TSLRefCarry carry;
        TKavSLRoot root;
        for (TKavSLRoot* obj : {static_cast<TKavSLRoot*>(&sl), static_cast<TKavSLRoot*>(&root)}) {
            obj->SavePre(archive);
            obj->Save(archive);
            obj->SavePost(archive);
            obj->LoadPre(archive);
            obj->Load(archive);
            obj->LoadPost(archive);
        }
        for (TKavSLRoot* obj : {static_cast<TKavSLRoot*>(&sl), static_cast<TKavSLRoot*>(&root),
                                static_cast<TKavSLRoot*>(&carry)}) {
            EXPECT_EQ(obj->SLHook1(archive), 0);
            EXPECT_EQ(obj->SLHook2(archive), 0);
            EXPECT_EQ(obj->SLHook3(archive), 0);
            EXPECT_EQ(obj->SLHook4(archive), 0);
            EXPECT_EQ(obj->SLHook5(archive), 0);
            EXPECT_EQ(obj->SLHook6(archive), 0);
        }
        EXPECT_EQ(sl.SkipFields(archive), 0);
        EXPECT_EQ(stream.Tell(), 0);
        EXPECT_EQ(stream.Size(), 4u);
        EXPECT_FALSE(archive.Failed());
    }
}

}  // namespace
