// Tests of TTree: ring order, moves, refused cycles, subtree deletion, and saving and loading whole subtrees.

#include "base/util/tree.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/ref_carry.h"
#include "tests/base/util/util_test_util.h"
#include "tests/support/death_tests.h"

namespace {

using namespace KavV3Base;
using namespace KavUtilTest;

// A tree that counts its live instances, to see which ones a deletion reached.
class TCountedTree : public TTree {
public:
    TCountedTree() { ++live; }
    ~TCountedTree() override { --live; }
    static inline std::atomic<int> live{0};
};

std::vector<const TTree*> Children(const TTree& tree) {
    std::vector<const TTree*> children;
    for (const TTree* child = tree.GetFirstChild(); child != nullptr; child = child->GetNextSibling()) {
        EXPECT_EQ(child->GetParent(), &tree);
        children.push_back(child);
    }
    // The ring runs the same way backwards.
    std::vector<const TTree*> backwards;
    for (const TVTree* node = tree.GetChildren()->GetPrev(); node != tree.GetChildren();
         node = node->GetPrev())
        backwards.insert(backwards.begin(), static_cast<const TTree*>(node));
    EXPECT_EQ(backwards, children);
    EXPECT_EQ(tree.GetChildCount(), children.size());
    return children;
}

TEST(TTree, AddChildAppendsAndMovesAChildAlreadyThere) {
    TTree tree;
    EXPECT_EQ(tree.GetFirstChild(), nullptr);
    EXPECT_EQ(tree.GetChildren()->GetChildren(), nullptr);  // the head ends every walk
    auto* a = new TTree;
    auto* b = new TTree;
    auto* c = new TTree;
    for (TTree* child : {a, b, c}) tree.AddChild(child);
    EXPECT_EQ(Children(tree), (std::vector<const TTree*>{a, b, c}));
    tree.AddChild(a);
    EXPECT_EQ(Children(tree), (std::vector<const TTree*>{b, c, a}));
}

TEST(TTree, AddChildTakesTheChildOutOfItsOldTree) {
    TTree first;
    TTree second;
    auto* x = new TTree;
    auto* y = new TTree;
    auto* z = new TTree;
    for (TTree* child : {x, y, z}) first.AddChild(child);
    second.AddChild(y);
    EXPECT_EQ(Children(first), (std::vector<const TTree*>{x, z}));
    EXPECT_EQ(Children(second), (std::vector<const TTree*>{y}));
}

TEST(TTreeDeathTest, AddingTheTreeItselfAnAncestorOrNothingStopsTheProgram) {
    KAV_START_DEATH_TEST();
    TTree root;
    auto* middle = new TTree;
    auto* leaf = new TTree;
    root.AddChild(middle);
    middle->AddChild(leaf);
    const char* cycle =
        "contract violated: TTree::AddChild of the tree itself or an ancestor would make a cycle";
    EXPECT_DEATH(leaf->AddChild(leaf), cycle);
    EXPECT_DEATH(leaf->AddChild(middle), cycle);
    EXPECT_DEATH(leaf->AddChild(&root), cycle);
    EXPECT_DEATH(root.AddChild(nullptr), "contract violated: TTree::AddChild needs a child");
    // A sibling's subtree and a tree of another root are no ancestors.
    TTree other;
    leaf->AddChild(&other);
    EXPECT_EQ(other.GetParent(), leaf);
    other.Detach();
    EXPECT_EQ(Children(root), (std::vector<const TTree*>{middle}));
    EXPECT_EQ(Children(*middle), (std::vector<const TTree*>{leaf}));
}

TEST(TTree, DetachClosesTheGapAndDeletesNothing) {
    TTree tree;
    auto* a = new TTree;
    auto* b = new TTree;
    auto* c = new TTree;
    for (TTree* child : {a, b, c}) tree.AddChild(child);
    b->Detach();
    EXPECT_EQ(Children(tree), (std::vector<const TTree*>{a, c}));
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(b->GetNext(), b);
    EXPECT_EQ(b->GetPrev(), b);
    b->Detach();  // a detached tree stays as it is
    EXPECT_EQ(b->GetNext(), b);
    delete b;
}

TEST(TTree, DeletingATreeDeletesItsSubtreeAndLeavesItsSiblings) {
    TCountedTree::live = 0;
    {
        TTree root;
        auto* first = new TCountedTree;
        auto* doomed = new TCountedTree;
        auto* last = new TCountedTree;
        for (TTree* child : std::initializer_list<TTree*>{first, doomed, last}) root.AddChild(child);
        auto* grandchild = new TCountedTree;
        doomed->AddChild(grandchild);
        grandchild->AddChild(new TCountedTree);
        grandchild->AddChild(new TCountedTree);
        EXPECT_EQ(TCountedTree::live, 6);
        delete doomed;
        EXPECT_EQ(TCountedTree::live, 2);
        EXPECT_EQ(Children(root), (std::vector<const TTree*>{first, last}));
    }
    EXPECT_EQ(TCountedTree::live, 0);
}

// Records the order in which trees are deleted.
class TNamedTree : public TTree {
public:
    TNamedTree(char treeName, std::string* deletionOrder) : name(treeName), order(deletionOrder) {}
    ~TNamedTree() override { order->push_back(name); }

private:
    char name;
    std::string* order;
};

TEST(TTree, DeletingATreeDeletesEachTreeBeforeItsChildrenInOrder) {
    std::string order;
    auto* root = new TNamedTree('r', &order);
    auto* a = new TNamedTree('a', &order);
    auto* b = new TNamedTree('b', &order);
    auto* e = new TNamedTree('e', &order);
    root->AddChild(a);
    root->AddChild(e);
    a->AddChild(b);
    a->AddChild(new TNamedTree('d', &order));
    b->AddChild(new TNamedTree('c', &order));
    e->AddChild(new TNamedTree('f', &order));
    delete root;
    EXPECT_EQ(order, "rabcdef");
}

TEST(TTree, AVeryDeepChainIsDeletedWithoutRecursionAndRefusedBySave) {
    TCountedTree::live = 0;
    constexpr int kDepth = 300000;
    // Built from the bottom up: each new tree adopts the chain so far.
    TTree* top = new TCountedTree;
    for (int i = 1; i < kDepth; ++i) {
        TTree* above = new TCountedTree;
        above->AddChild(top);
        top = above;
    }
    EXPECT_EQ(TCountedTree::live, kDepth);

    // Saving stops at the archive's nesting limit and reports the failure; the
    // stream holds the records written down to the limit.
    TMemoryStream stream;
    TSLArchive archive(&stream, TSLArchive::CodingBinary);
    TKavSLRoot* root = top;
    EXPECT_FALSE(SLSaveObject(archive, &root));
    EXPECT_TRUE(archive.Failed());
    EXPECT_FALSE(stream.Bytes().empty());

    delete top;
    EXPECT_EQ(TCountedTree::live, 0);
}

TEST(TTree, EmptyTreeSavesTheCountZeroOnly) {
    TTree tree;
    TMemoryStream binary;
    TSLArchive archive(&binary, TSLArchive::CodingBinary);
    tree.SavePre(archive);
    EXPECT_EQ(binary.Bytes(), (TBytes{0, 0, 0, 0}));
}

// The shape of a subtree, as child counts in depth-first order.
void Shape(const TTree& tree, std::vector<std::size_t>* shape) {
    const std::vector<const TTree*> children = Children(tree);
    shape->push_back(children.size());
    for (const TTree* child : children) Shape(*child, shape);
}

TEST(TTree, GraphRoundTripRebuildsTheSubtreeInOrder) {
    ForBothCodings([](std::int32_t coding) {
        TTree root;
        auto* a = new TTree;
        auto* b = new TTree;
        root.AddChild(a);
        root.AddChild(b);
        a->AddChild(new TTree);
        b->AddChild(new TTree);
        b->GetFirstChild()->AddChild(new TTree);
        b->AddChild(new TTree);
        const TBytes bytes = SaveGraph(&root, coding);

        TTree* copy = LoadGraph<TTree>(bytes, coding);
        ASSERT_NE(copy, nullptr);
        std::vector<std::size_t> original;
        std::vector<std::size_t> loaded;
        Shape(root, &original);
        Shape(*copy, &loaded);
        EXPECT_EQ(loaded, original);
        EXPECT_EQ(loaded, (std::vector<std::size_t>{2, 1, 0, 2, 1, 0, 0}));
        EXPECT_EQ(copy->GetParent(), nullptr);
        EXPECT_EQ(SaveGraph(copy, coding), bytes);
        delete copy;
    });
}

// A tree record whose one child is what writeChild writes.
template <class F>
TBytes TreeWithChild(std::int32_t coding, F writeChild) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    WriteRecordHeader(archive, "TTree", 60, 500);
    const std::uint32_t count = 1;
    SLWriteSize(archive, &count);
    writeChild(archive);
    return stream.Bytes();
}

TEST(TTree, LoadRefusesNullForeignAndCyclicChildren) {
    TTree::ClassRecord();
    ForBothCodings([](std::int32_t coding) {
        const std::int32_t nullTag = SLRefTag::NullRef;
        const std::int32_t backTag = SLRefTag::BackRef;
        const std::uint32_t self = 500;
        TSLRefCarry carrier;
        const std::vector<TBytes> refused = {
            TreeWithChild(coding, [&](TSLArchive& a) { SLWriteInt(a, &nullTag); }),
            TreeWithChild(coding,
                          [&](TSLArchive& a) {
                              TKavSLRoot* notATree = &carrier;
                              ASSERT_TRUE(SLSaveObject(a, &notATree));
                          }),
            TreeWithChild(coding,
                          [&](TSLArchive& a) {
                              SLWriteInt(a, &backTag);
                              SLWriteSize(a, &self);
                          }),
            // A child whose own child is its parent.
            TreeWithChild(coding,
                          [&](TSLArchive& a) {
                              WriteRecordHeader(a, "TTree", 61, 501);
                              const std::uint32_t one = 1;
                              SLWriteSize(a, &one);
                              SLWriteInt(a, &backTag);
                              SLWriteSize(a, &self);
                          }),
        };
        for (std::size_t i = 0; i < refused.size(); ++i) {
            SCOPED_TRACE(i);
            TMemoryStream in(refused[i]);
            TSLArchive archive(&in, coding);
            TTree* tree = nullptr;
            EXPECT_FALSE(SLLoadObject(archive, &tree));
            EXPECT_EQ(tree, nullptr);
            EXPECT_EQ(archive.LoadedObjectCount(), 0u);
        }
    });
}

TEST(TTree, AHugeChildCountStopsAtTheFirstMissingChild) {
    ForBothCodings([](std::int32_t coding) {
        TMemoryStream stream;
        TSLArchive writing(&stream, coding);
        const std::uint32_t count = 0xFFFFFFFFu;
        SLWriteSize(writing, &count);
        TTree child;
        TKavSLRoot* one = &child;
        ASSERT_TRUE(SLSaveObject(writing, &one));

        TTree tree;
        TMemoryStream in(stream.Bytes());
        TSLArchive archive(&in, coding);
        tree.LoadPre(archive);
        EXPECT_TRUE(archive.Failed());
        EXPECT_EQ(tree.GetChildCount(), 1u);
        tree.SLDiscardLinks();
        archive.DiscardLoadedObjects();
        EXPECT_EQ(tree.GetChildCount(), 0u);
    });
}

TEST(TTree, DiscardingALoadedGraphFreesEveryTreeOnce) {
    ForBothCodings([](std::int32_t coding) {
        TTree root;
        auto* a = new TTree;
        root.AddChild(a);
        a->AddChild(new TTree);
        root.AddChild(new TTree);
        TMemoryStream in(SaveGraph(&root, coding));
        TSLArchive archive(&in, coding);
        TTree* copy = nullptr;
        ASSERT_TRUE(SLLoadObject(archive, &copy));
        EXPECT_EQ(archive.LoadedObjectCount(), 4u);
        // The sanitizers see any tree deleted twice or left behind.
        archive.DiscardLoadedObjects();
        EXPECT_EQ(archive.LoadedObjectCount(), 0u);
    });
}

// An archive holding a tree with one child, then a tree record whose first
// child is a back-reference to `earlier` (the first tree itself, or its
// child) and whose second child is a null reference, which fails the load.
TBytes EarlierTreeThenFailingAdopter(std::int32_t coding, bool adoptTheChild) {
    TTree root;
    root.AddChild(new TTree);
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    TKavSLRoot* top = &root;
    EXPECT_TRUE(SLSaveObject(archive, &top));
    const std::uint32_t earlier = archive.Objects.FindIdentity(adoptTheChild ? root.GetFirstChild() : &root);
    WriteRecordHeader(archive, "TTree", 60, 900);
    const std::uint32_t count = 2;
    const std::int32_t backTag = SLRefTag::BackRef;
    const std::int32_t nullTag = SLRefTag::NullRef;
    SLWriteSize(archive, &count);
    SLWriteInt(archive, &backTag);
    SLWriteSize(archive, &earlier);
    SLWriteInt(archive, &nullTag);
    return stream.Bytes();
}

TEST(TTree, AFailedLoadLeavesTreesOfAnEarlierLoadAsTheyWere) {
    ForBothCodings([](std::int32_t coding) {
        for (const bool adoptTheChild : {true, false}) {
            SCOPED_TRACE(adoptTheChild ? "back-reference to a child" : "back-reference to a root");
            TMemoryStream in(EarlierTreeThenFailingAdopter(coding, adoptTheChild));
            TSLArchive archive(&in, coding);
            TTree* first = nullptr;
            ASSERT_TRUE(SLLoadObject(archive, &first));
            const TTree* child = first->GetFirstChild();
            ASSERT_NE(child, nullptr);

            TTree* adopter = nullptr;
            EXPECT_FALSE(SLLoadObject(archive, &adopter));
            EXPECT_EQ(adopter, nullptr);
            EXPECT_EQ(archive.LoadedObjectCount(), 2u);
            EXPECT_EQ(Children(*first), (std::vector<const TTree*>{child}));
            EXPECT_EQ(first->GetParent(), nullptr);
            EXPECT_EQ(first->GetNext(), first);
            EXPECT_EQ(first->GetPrev(), first);
            // The sanitizers see a child left behind or deleted twice.
            delete first;
        }
    });
}

}  // namespace
