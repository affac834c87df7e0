// Tests of TChangable and TChangeChecker: flags, shared carriers and their counts, linking on load in both
// reference modes, refused carriers, and discarding loaded watchers.

#include "base/util/change_notification.h"

#include <atomic>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "base/util/tree.h"
#include "tests/base/util/util_test_util.h"
#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;
using namespace KavUtilTest;

// A changable that counts its live instances, so that tests see who deleted it.
class TCountedChangable : public TChangable {
public:
    TCountedChangable() { ++live; }
    ~TCountedChangable() override { --live; }
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TCountedChangable", &TChangable::ClassRecord,
                               &SLNewInstance<TCountedChangable>);
    }
    static inline std::atomic<int> live{0};
};

// Holds references without owning them, so that one load can hold several
// checkers and then fail.
class THolder : public TKavSL {
public:
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }
    void Save(TSLArchive& archive) override {
        const auto count = static_cast<std::uint32_t>(refs.size());
        SLWriteSize(archive, &count);
        for (TKavSL* ref : refs)
            if (!SLSaveObject(archive, &ref)) return;
    }
    void Load(TSLArchive& archive) override {
        std::uint32_t count = 0;
        SLReadSize(archive, &count);
        for (std::uint32_t i = 0; i < count && !archive.Failed(); ++i) {
            TKavSL* ref = nullptr;
            if (SLLoadObject(archive, &ref)) refs.push_back(ref);
        }
    }
    void SLDiscardLinks() override { refs.clear(); }
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TUtilTestHolder", &TKavSL::ClassRecord, &SLNewInstance<THolder>);
    }
    std::vector<TKavSL*> refs;
};

// A changable watched by `checkers` checkers through one carrier.
struct TWatchedPair {
    explicit TWatchedPair(int checkerCount) {
        carrier->reference = changable;
        for (int i = 0; i < checkerCount; ++i) {
            checkers.push_back(new TChangeChecker);
            EXPECT_TRUE(checkers.back()->Watch(carrier));
        }
    }
    TCountedChangable* changable = new TCountedChangable;
    TSLRefCarry* carrier = new TSLRefCarry;
    std::vector<TChangeChecker*> checkers;
};

std::vector<TChangeChecker*> Linked(const TChangable& changable) {
    const auto& list = changable.GetCheckers();
    return std::vector<TChangeChecker*>(list.begin(), list.end());
}

TEST(TChangeChecker, StartsWithEveryFlagRaisedAndNoCarrier) {
    TChangeChecker checker;
    EXPECT_EQ(checker.changedA, 1);
    EXPECT_EQ(checker.changedB, 1);
    EXPECT_EQ(checker.changedC, 1);
    EXPECT_FALSE(checker.IsLinked());
    EXPECT_EQ(checker.GetCarrier(), nullptr);
}

TEST(TChangable, RaisesAndClearsFlagsInEveryLinkedChecker) {
    TCountedChangable::live = 0;
    TWatchedPair pair(2);
    TChangable& changable = *pair.changable;
    ASSERT_NE(changable.GetCarrierPlace(), nullptr);
    EXPECT_EQ(*changable.GetCarrierPlace(), pair.carrier);
    changable.ClearChangedA();
    changable.ClearChangedB();
    for (const TChangeChecker* checker : pair.checkers) {
        EXPECT_EQ(checker->changedA, 0);
        EXPECT_EQ(checker->changedB, 0);
        EXPECT_EQ(checker->changedC, 1);
    }
    changable.RaiseChangedB();
    for (const TChangeChecker* checker : pair.checkers) {
        EXPECT_EQ(checker->changedA, 0);
        EXPECT_EQ(checker->changedB, 1);
    }
    changable.RaiseChangedA();
    EXPECT_EQ(pair.checkers[1]->changedA, 1);

    // The last checker to let go deletes the changable and the carrier.
    delete pair.checkers[0];
    EXPECT_EQ(TCountedChangable::live, 1);
    EXPECT_EQ(pair.carrier->count, 1);
    EXPECT_EQ(Linked(changable), (std::vector<TChangeChecker*>{pair.checkers[1]}));
    delete pair.checkers[1];
    EXPECT_EQ(TCountedChangable::live, 0);
}

TEST(TChangable, WithoutCheckersIgnoresFlagsAndHasNoCarrierPlace) {
    TChangable changable;
    changable.RaiseChangedA();
    changable.ClearChangedB();
    EXPECT_EQ(changable.GetCarrierPlace(), nullptr);
}

TEST(TChangeChecker, InlineLoadSharesOneCarrierAndLinksInLoadOrder) {
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TBytes bytes;
        {
            TWatchedPair pair(2);
            bytes = SaveGraphs({pair.checkers[0], pair.checkers[1]}, coding);
            for (TChangeChecker* checker : pair.checkers) delete checker;
        }
        ASSERT_EQ(TCountedChangable::live, 0);

        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding);
        TChangeChecker* loaded[2] = {};
        for (TChangeChecker*& checker : loaded) ASSERT_TRUE(SLLoadObject(archive, &checker));
        TSLRefCarry* carrier = loaded[0]->GetCarrier();
        ASSERT_NE(carrier, nullptr);
        EXPECT_EQ(loaded[1]->GetCarrier(), carrier);
        EXPECT_EQ(carrier->count, 2);
        auto* changable = dynamic_cast<TCountedChangable*>(carrier->reference);
        ASSERT_NE(changable, nullptr);
        EXPECT_EQ(Linked(*changable), (std::vector<TChangeChecker*>{loaded[0], loaded[1]}));
        EXPECT_EQ(SaveGraphs({loaded[0], loaded[1]}, coding), bytes);

        delete loaded[0];
        EXPECT_EQ(TCountedChangable::live, 1);
        delete loaded[1];
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

// A checker record whose carrier is what writeCarrier writes.
template <class F>
TBytes CheckerWithCarrier(std::int32_t coding, F writeCarrier) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    WriteRecordHeader(archive, "TChangeChecker", 90, 900);
    writeCarrier(archive);
    return stream.Bytes();
}

TEST(TChangeChecker, InlineLoadRefusesCarriersThatCannotBeWatched) {
    ForBothCodings([](std::int32_t coding) {
        TTree notAChangable;
        TSLRefCarry wrongReference;
        wrongReference.reference = &notAChangable;
        TTree notACarrier;
        const std::vector<TBytes> refused = {
            CheckerWithCarrier(coding,
                               [&](TSLArchive& a) {
                                   TKavSLRoot* root = &wrongReference;
                                   ASSERT_TRUE(SLSaveObject(a, &root));
                               }),
            CheckerWithCarrier(coding,
                               [&](TSLArchive& a) {
                                   TKavSLRoot* root = &notACarrier;
                                   ASSERT_TRUE(SLSaveObject(a, &root));
                               }),
        };
        for (std::size_t i = 0; i < refused.size(); ++i) {
            SCOPED_TRACE(i);
            TMemoryStream in(refused[i]);
            TSLArchive archive(&in, coding);
            TChangeChecker* checker = nullptr;
            EXPECT_FALSE(SLLoadObject(archive, &checker));
            EXPECT_EQ(checker, nullptr);
            EXPECT_EQ(archive.LoadedObjectCount(), 0u);
        }
    });
}

TEST(TChangeChecker, WatchRefusesWhatALoadWouldRefuse) {
    TCountedChangable::live = 0;
    TWatchedPair pair(1);
    TSLRefCarry rival;  // a second carrier of the same changable
    rival.reference = pair.changable;
    TTree notAChangable;
    TSLRefCarry wrongReference;
    wrongReference.reference = &notAChangable;
    TChangeChecker checker;
    EXPECT_FALSE(checker.Watch(&rival));
    EXPECT_FALSE(checker.Watch(&wrongReference));
    EXPECT_EQ(pair.carrier->count, 1);
    EXPECT_EQ(rival.count, 0);
    TSLRefCarry empty;  // a carrier of nothing is counted but links nowhere
    EXPECT_TRUE(checker.Watch(&empty));
    EXPECT_FALSE(checker.IsLinked());
    EXPECT_EQ(empty.count, 1);
    checker.SLDiscardLinks();  // the stack carrier must not be deleted
    EXPECT_EQ(checker.GetCarrier(), nullptr);
    delete pair.checkers[0];
    EXPECT_EQ(TCountedChangable::live, 0);
}

TEST(TChangeCheckerDeathTest, WatchingNothingOrASecondCarrierStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TWatchedPair pair(1);
    TChangeChecker checker;
    EXPECT_DEATH(static_cast<void>(checker.Watch(nullptr)),
                 "contract violated: TChangeChecker::Watch needs a carrier");
    TSLRefCarry other;
    EXPECT_DEATH(
        static_cast<void>(pair.checkers[0]->Watch(&other)),
        "contract violated: TChangeChecker::Watch on a checker that holds or awaits a carrier already");
    EXPECT_EQ(pair.carrier->count, 1);
    delete pair.checkers[0];
}

TEST(TChangeChecker, ACarrierWatchedThroughAnotherCarrierIsRefusedOnLoad) {
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        // Two checkers whose carriers both name one changable.
        TMemoryStream stream;
        TSLArchive writing(&stream, coding);
        TCountedChangable changable;
        TSLRefCarry one;
        TSLRefCarry two;
        one.reference = &changable;
        two.reference = &changable;
        for (TSLRefCarry* carrier : {&one, &two}) {
            WriteRecordHeader(writing, "TChangeChecker", 90, 900 + writing.Objects.Count());
            TKavSLRoot* root = carrier;
            ASSERT_TRUE(SLSaveObject(writing, &root));
        }
        const int before = TCountedChangable::live;

        TMemoryStream in(stream.Bytes());
        TSLArchive archive(&in, coding);
        TChangeChecker* first = nullptr;
        TChangeChecker* second = nullptr;
        ASSERT_TRUE(SLLoadObject(archive, &first));
        EXPECT_TRUE(first->IsLinked());
        EXPECT_FALSE(SLLoadObject(archive, &second));
        EXPECT_EQ(second, nullptr);
        EXPECT_TRUE(first->IsLinked());
        delete first;
        EXPECT_EQ(TCountedChangable::live, before);
    });
}

TEST(TChangeChecker, IdentityOnlyCheckerLinksToTheCarrierLoadedBeforeIt) {
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TBytes bytes;
        {
            TWatchedPair pair(2);
            // The carrier goes first, inline; the checkers name it by identity.
            bytes = SaveGraphs({pair.carrier, pair.checkers[0], pair.checkers[1]}, coding,
                               TSLArchive::ReferenceIdentity);
            for (TChangeChecker* checker : pair.checkers) delete checker;
        }
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding, TSLArchive::ReferenceIdentity);
        TSLRefCarry* carrier = nullptr;
        TChangeChecker* loaded[2] = {};
        ASSERT_TRUE(SLLoadObject(archive, &carrier));
        for (TChangeChecker*& checker : loaded) ASSERT_TRUE(SLLoadObject(archive, &checker));
        EXPECT_EQ(carrier->count, 2);
        for (TChangeChecker* checker : loaded) {
            EXPECT_EQ(checker->GetCarrier(), carrier);
            EXPECT_EQ(checker->GetPendingIdentity(), 0u);
            EXPECT_TRUE(checker->Resolve(archive));  // nothing left to do
        }
        EXPECT_EQ(Linked(*static_cast<TChangable*>(carrier->reference)),
                  (std::vector<TChangeChecker*>{loaded[0], loaded[1]}));
        delete loaded[0];
        delete loaded[1];
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

TEST(TChangeChecker, IdentityOnlyCheckersSavedAheadOfTheirCarrierResolveAfterTheLoad) {
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TBytes bytes;
        {
            TWatchedPair pair(2);
            // The checkers name the carrier before it is saved: its one full
            // record comes last, under the identity they wrote.
            bytes = SaveGraphs({pair.checkers[0], pair.checkers[1], pair.carrier}, coding,
                               TSLArchive::ReferenceIdentity);
            for (TChangeChecker* checker : pair.checkers) delete checker;
        }
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding, TSLArchive::ReferenceIdentity);
        TChangeChecker* loaded[2] = {};
        TSLRefCarry* carrier = nullptr;
        for (TChangeChecker*& checker : loaded) ASSERT_TRUE(SLLoadObject(archive, &checker));
        ASSERT_TRUE(SLLoadObject(archive, &carrier));
        ASSERT_NE(carrier, nullptr);
        EXPECT_EQ(static_cast<std::size_t>(in.Tell()), bytes.size());
        for (TChangeChecker* checker : loaded) {
            EXPECT_TRUE(checker->Resolve(archive));
            EXPECT_EQ(checker->GetCarrier(), carrier);
        }
        EXPECT_EQ(carrier->count, 2);
        EXPECT_EQ(Linked(*static_cast<TChangable*>(carrier->reference)),
                  (std::vector<TChangeChecker*>{loaded[0], loaded[1]}));
        delete loaded[0];
        delete loaded[1];
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

// A checker naming identity 7 by identity only, then, unless laterClass is
// null, an object of that class under identity 7: a carrier watching a
// changable, or a tree without children.
TBytes CheckerThenCarrier(std::int32_t coding, const char* laterClass) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding, TSLArchive::ReferenceIdentity);
    WriteRecordHeader(archive, "TChangeChecker", 90, 1);
    const std::uint32_t later = 7;
    SLWriteSize(archive, &later);
    if (laterClass != nullptr) {
        WriteRecordHeader(archive, laterClass, 91, later);
        if (TString(laterClass) == TString("TSLRefCarry"))
            WriteRecordHeader(archive, "TCountedChangable", 92, 8);
        else {
            const std::uint32_t none = 0;
            SLWriteSize(archive, &none);  // a tree without children
        }
    }
    return stream.Bytes();
}

TEST(TChangeChecker, IdentityOfALaterCarrierIsResolvedAfterTheLoad) {
    TCountedChangable::ClassRecord();
    TTree::ClassRecord();
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TMemoryStream in(CheckerThenCarrier(coding, "TSLRefCarry"));
        TSLArchive archive(&in, coding, TSLArchive::ReferenceIdentity);
        TChangeChecker* checker = nullptr;
        TSLRefCarry* carrier = nullptr;
        ASSERT_TRUE(SLLoadObject(archive, &checker));
        EXPECT_EQ(checker->GetPendingIdentity(), 7u);
        EXPECT_EQ(checker->GetCarrier(), nullptr);
        EXPECT_FALSE(checker->Resolve(archive));  // not loaded yet: still pending
        EXPECT_EQ(checker->GetPendingIdentity(), 7u);
        ASSERT_TRUE(SLLoadObject(archive, &carrier));
        EXPECT_EQ(carrier->count, 0);
        EXPECT_TRUE(checker->Resolve(archive));
        EXPECT_EQ(checker->GetCarrier(), carrier);
        EXPECT_EQ(carrier->count, 1);
        EXPECT_TRUE(checker->IsLinked());
        delete checker;
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

TEST(TChangeChecker, UnresolvedOrForeignIdentitiesLeaveTheCheckerUnlinked) {
    ForBothCodings([](std::int32_t coding) {
        {
            TMemoryStream in(CheckerThenCarrier(coding, nullptr));
            TSLArchive archive(&in, coding, TSLArchive::ReferenceIdentity);
            TChangeChecker* checker = nullptr;
            ASSERT_TRUE(SLLoadObject(archive, &checker));
            EXPECT_FALSE(checker->Resolve(archive));
            EXPECT_EQ(checker->GetCarrier(), nullptr);
            EXPECT_FALSE(checker->IsLinked());
            delete checker;  // touches nothing
        }
        {
            TMemoryStream in(CheckerThenCarrier(coding, "TTree"));
            TSLArchive archive(&in, coding, TSLArchive::ReferenceIdentity);
            TChangeChecker* checker = nullptr;
            TTree* tree = nullptr;
            ASSERT_TRUE(SLLoadObject(archive, &checker));
            ASSERT_TRUE(SLLoadObject(archive, &tree));
            EXPECT_FALSE(checker->Resolve(archive));
            EXPECT_TRUE(archive.Failed());
            EXPECT_EQ(checker->GetCarrier(), nullptr);
            EXPECT_EQ(checker->GetPendingIdentity(), 0u);
            archive.DiscardLoadedObjects();
        }
    });
}

TEST(TChangeChecker, AFailedLoadFreesLinkedCheckersAndTheirChangableOnce) {
    THolder::ClassRecord();
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TBytes bytes;
        {
            TWatchedPair pair(2);
            THolder holder;
            holder.refs = {pair.checkers[0], pair.checkers[1], pair.checkers[1]};
            bytes = SaveGraph(&holder, coding);
            for (TChangeChecker* checker : pair.checkers) delete checker;
        }
        // Loads whole, and discards whole.
        {
            TMemoryStream in(bytes);
            TSLArchive archive(&in, coding);
            THolder* holder = nullptr;
            ASSERT_TRUE(SLLoadObject(archive, &holder));
            EXPECT_EQ(TCountedChangable::live, 1);
            archive.DiscardLoadedObjects();
            EXPECT_EQ(TCountedChangable::live, 0);
        }
        // Cut off after both checkers are linked: the load frees everything.
        bytes.resize(bytes.size() - 1);
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding);
        THolder* holder = nullptr;
        EXPECT_FALSE(SLLoadObject(archive, &holder));
        EXPECT_EQ(holder, nullptr);
        EXPECT_EQ(archive.LoadedObjectCount(), 0u);
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

TEST(TChangeChecker, AFailedLoadGivesBackTheCountItTookOnAnEarlierCarrier) {
    THolder::ClassRecord();
    ForBothCodings([](std::int32_t coding) {
        TCountedChangable::live = 0;
        TBytes bytes;
        {
            // The second checker reaches the shared carrier by a back-reference
            // from inside a holder, which then fails: the stream is cut in the
            // middle of its second reference, after the checker was linked.
            TWatchedPair pair(2);
            THolder holder;
            holder.refs = {pair.checkers[1], pair.checkers[1]};
            bytes = SaveGraphs({pair.checkers[0], &holder}, coding);
            for (TChangeChecker* checker : pair.checkers) delete checker;
        }
        bytes.resize(bytes.size() - 1);
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding);
        TChangeChecker* first = nullptr;
        ASSERT_TRUE(SLLoadObject(archive, &first));
        TSLRefCarry* carrier = first->GetCarrier();
        ASSERT_NE(carrier, nullptr);
        auto* changable = dynamic_cast<TCountedChangable*>(carrier->reference);
        ASSERT_NE(changable, nullptr);

        THolder* holder = nullptr;
        EXPECT_FALSE(SLLoadObject(archive, &holder));
        EXPECT_EQ(holder, nullptr);
        EXPECT_EQ(archive.LoadedObjectCount(), 3u);  // the first load's checker, carrier and changable
        EXPECT_EQ(carrier->count, 1);
        EXPECT_EQ(Linked(*changable), (std::vector<TChangeChecker*>{first}));
        EXPECT_TRUE(first->IsLinked());
        EXPECT_EQ(TCountedChangable::live, 1);
        // The only holder lets go: changable and carrier go with it.
        delete first;
        EXPECT_EQ(TCountedChangable::live, 0);
    });
}

}  // namespace
