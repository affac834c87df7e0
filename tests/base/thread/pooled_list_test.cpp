// Tests of TPooledList: order, node recycling, node sources and the node
// types' shared pool tables.

#include "base/thread/pooled_list.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

#include "base/thread/thread_slots.h"

namespace KavV3Base {
namespace {

template <class T>
std::vector<T> Contents(const TPooledList<T>& list) {
    return std::vector<T>(list.begin(), list.end());
}

template <class T>
std::size_t SpareCount(typename TPooledList<T>::TNode* ring) {
    std::size_t n = 0;
    for (auto* node = ring->next; node != ring; node = node->next) ++n;
    return n;
}

TEST(TPooledList, NewListIsEmpty) {
    TPooledList<int> list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.begin(), list.end());
    EXPECT_EQ(list.GetOwnSpare(), 1);
    EXPECT_EQ(list.GetSharedSource(), nullptr);
    EXPECT_EQ(list.Head()->next, list.Head());
}

TEST(TPooledList, PopFrontGivesElementsInPushOrder) {
    TPooledList<int> list;
    list.PushBack(1);
    list.PushBack(2);
    list.PushBack(3);
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Front(), 1);
    EXPECT_EQ(list.Back(), 3);
    EXPECT_EQ(list.PopFront(), 1);
    EXPECT_EQ(list.PopFront(), 2);
    EXPECT_EQ(list.PopFront(), 3);
    EXPECT_TRUE(list.IsEmpty());
}

TEST(TPooledList, NodesAreReusedLastReturnedFirst) {
    TPooledList<int> list;
    list.PushBack(1);
    auto* nodeA = list.Last();
    list.PushBack(2);
    auto* nodeB = list.Last();
    list.PushBack(3);
    auto* nodeC = list.Last();
    list.PopFront();
    list.PopFront();
    list.PopFront();
    EXPECT_EQ(SpareCount<int>(list.SourceSpare()), 3u);

    list.PushBack(4);
    EXPECT_EQ(list.Last(), nodeC) << "the node returned last comes back first";
    list.PushBack(5);
    EXPECT_EQ(list.Last(), nodeB);
    list.PushBack(6);
    EXPECT_EQ(list.Last(), nodeA);
    EXPECT_EQ(SpareCount<int>(list.SourceSpare()), 0u);
    EXPECT_EQ(Contents(list), (std::vector<int>{4, 5, 6}));
}

// Counts its live instances.
struct TCounted {
    static inline int live = 0;
    explicit TCounted(int v) : value(v) { ++live; }
    TCounted(const TCounted& other) : value(other.value) { ++live; }
    TCounted(TCounted&& other) noexcept : value(other.value) { ++live; }
    TCounted& operator=(const TCounted&) = default;
    ~TCounted() { --live; }
    int value;
};

TEST(TPooledList, DestructionWithElementsFreesNodesAndLeavesPointeesAlone) {
    int a = 10;
    int b = 20;
    {
        TPooledList<int*> list;
        list.PushBack(&a);
        list.PushBack(&b);
        list.PushBack(&a);
        list.PopFront();  // one spare node too
    }
    // The pointed-to objects are untouched; leaked nodes would fail the
    // sanitizer builds.
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);

    {
        TPooledList<TCounted> list;
        list.PushBack(TCounted(1));
        list.PushBack(TCounted(2));
        EXPECT_EQ(TCounted::live, 2);
        const TCounted popped = list.PopFront();
        EXPECT_EQ(popped.value, 1);
        EXPECT_EQ(TCounted::live, 2) << "the popped value and the listed one";
    }
    EXPECT_EQ(TCounted::live, 0) << "listed values are destroyed exactly once";
}

TEST(TPooledList, PushFrontIterationEraseAndClear) {
    TPooledList<std::string> list;
    list.PushBack("b");
    list.PushFront("a");
    list.PushBack("c");
    list.PushBack("b");
    EXPECT_EQ(Contents(list), (std::vector<std::string>{"a", "b", "c", "b"}));

    for (auto it = list.begin(); it != list.end();) {
        if (*it == "b") {
            it = list.Erase(it);
        } else {
            ++it;
        }
    }
    EXPECT_EQ(Contents(list), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(SpareCount<std::string>(list.SourceSpare()), 2u);

    list.Clear();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(SpareCount<std::string>(list.SourceSpare()), 4u);
}

TEST(TPooledList, NodesCanBeLinkedAndReturnedByTheirHolders) {
    // A holder that keeps its node: takes it, stores itself, links it at the
    // end, and later unlinks and returns it.
    TPooledList<int> list;
    list.PushBack(1);
    auto* node = list.TakeNode(2);
    EXPECT_EQ(node->next, node) << "a taken node is in no ring";
    EXPECT_EQ(node->value, 2);
    TPooledList<int>::InsertBefore(list.Head(), node);
    list.PushBack(3);
    EXPECT_EQ(Contents(list), (std::vector<int>{1, 2, 3}));

    list.ReturnNode(node);
    EXPECT_EQ(Contents(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(list.SourceSpare()->next, node) << "returned to the front of the spare ring";
    EXPECT_EQ(list.TakeNode(4), node);
    // Not linked: return it so that the list frees it.
    list.ReturnNode(node);
}

TEST(TPooledList, MovedFromListStaysUsable) {
    TPooledList<int> source;
    source.PushBack(1);
    source.PushBack(2);
    TPooledList<int> moved(std::move(source));
    EXPECT_EQ(Contents(moved), (std::vector<int>{1, 2}));
    EXPECT_TRUE(source.IsEmpty());  // NOLINT(bugprone-use-after-move): documented state
    source.PushBack(3);
    EXPECT_EQ(source.PopFront(), 3);

    std::vector<TPooledList<int>> buckets(3);
    buckets[1].PushBack(7);
    buckets.resize(10);
    EXPECT_EQ(buckets[1].Front(), 7);
}

TEST(TPooledList, ListsCanShareASourcePool) {
    TPooledNodePool<int> pool;
    TPooledList<int> first;
    TPooledList<int> second;
    first.SetSharedSource(&pool);
    second.SetSharedSource(&pool);
    first.PushBack(1);
    auto* node = first.First();
    first.PopFront();
    EXPECT_EQ(pool.spare->next, node);
    second.PushBack(2);
    EXPECT_EQ(second.First(), node) << "a node returned by one list is taken by the other";
    second.PopFront();
    first.SetSharedSource(nullptr);
    second.SetSharedSource(nullptr);
}

// A node type that no other test uses, so that its first construction is seen.
struct TFreshElement {
    int value = 0;
};

TEST(TPooledList, FirstConstructionRegistersTheNodeType) {
    using TList = TPooledList<TFreshElement>;
    EXPECT_EQ(TList::SharedPoolCount(), 0u);
    { const TList list; }
    ASSERT_EQ(TList::SharedPoolCount(), 1u);
    ASSERT_NE(TList::SharedPool(0), nullptr);
    EXPECT_EQ(TList::SharedPool(0)->spare->next, TList::SharedPool(0)->spare) << "entry 0 starts empty";

    std::vector<TThreadCallback> callbacks;
    {
        TScopedLock lock(GetProcessLock());
        callbacks = GetThreadSlotTable()->callbacks;
    }
    int registrations = 0;
    for (TThreadCallback callback : callbacks) registrations += callback == &TList::SlotCallback ? 1 : 0;
    EXPECT_EQ(registrations, 1);

    const TList another;
    EXPECT_EQ(TList::SharedPoolCount(), 1u) << "only the first construction registers";
}

TEST(TPooledList, SlotCallbackGrowsThePoolTable) {
    using TList = TPooledList<double>;
    const TList list;
    ASSERT_EQ(TList::SharedPoolCount(), 1u);
    TList::SlotCallback(3);
    ASSERT_EQ(TList::SharedPoolCount(), 4u);
    EXPECT_EQ(TList::SharedPool(1), nullptr);
    EXPECT_EQ(TList::SharedPool(2), nullptr);
    ASSERT_NE(TList::SharedPool(3), nullptr);
    TList::SlotCallback(2);
    EXPECT_EQ(TList::SharedPoolCount(), 4u) << "a slot below the size changes nothing";
    EXPECT_EQ(TList::SharedPool(2), nullptr);
}

TEST(TPooledList, WithoutOwnSpareNodesComeFromSharedEntryZero) {
    using TList = TPooledList<std::int64_t>;
    TList list;
    list.SetOwnSpare(0);
    TList::TPool* pool = TList::SharedPool(0);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(list.SourceSpare(), pool->spare);
    list.PushBack(1);
    auto* node = list.First();
    list.PopFront();
    EXPECT_EQ(pool->spare->next, node);
    EXPECT_EQ(list.OwnSpareHead()->next, list.OwnSpareHead()) << "the own ring is not used";

    TList other;
    other.SetOwnSpare(0);
    other.PushBack(2);
    EXPECT_EQ(other.First(), node);
}

TEST(TPooledListDeathTest, PopFrontOnAnEmptyListStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TPooledList<int> list;
    EXPECT_DEATH(list.PopFront(), "contract violated: PopFront on an empty TPooledList");
}

}  // namespace
}  // namespace KavV3Base
