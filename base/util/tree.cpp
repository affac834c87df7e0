#include "base/util/tree.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "base/contract.h"
#include "base/sl/archive.h"
#include "base/sl/object_graph.h"

namespace KavV3Base {

// --- TVTree ------------------------------------------------------------------

const TSLClassRecord* TVTree::GetClassRecord() { return ClassRecord(); }

void TVTree::UnlinkFromRing() {
    prev->next = next;
    next->prev = prev;
    next = this;
    prev = this;
}

const TSLClassRecord* TVTree::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TVTree", &TKavSL::ClassRecord, &TVTree::NewInstance);
}

TKavSLRoot* TVTree::NewInstance() { return SLNewInstance<TVTree>(); }

// --- TTree -------------------------------------------------------------------

TTree::TTree() : childHead(new TVTree) {
    childHead->parent = this;
    children = childHead;
}

TTree::~TTree() {
    UnlinkFromRing();
    parent = nullptr;
    // The subtree goes without recursion, however deep it is: before the
    // first child is deleted, its own children move into this ring right
    // after it, so it dies childless and its children come next. Trees are
    // thus deleted in the order a recursive walk would enter them (each tree
    // before its children, siblings first to last), and every node moves
    // into this ring once, so the whole deletion takes time in proportion to
    // the size of the subtree.
    while (childHead->next != childHead) {
        auto* first = static_cast<TTree*>(childHead->next);
        TVTree* const head = first->childHead;
        if (head->next != head) {
            TVTree* const firstGrandchild = head->next;
            TVTree* const lastGrandchild = head->prev;
            for (TVTree* node = firstGrandchild; node != head; node = node->next) node->parent = this;
            lastGrandchild->next = first->next;
            first->next->prev = lastGrandchild;
            first->next = firstGrandchild;
            firstGrandchild->prev = first;
            head->next = head;
            head->prev = head;
        }
        delete first;  // unlinks itself from this ring
    }
    delete childHead;
}

const TSLClassRecord* TTree::GetClassRecord() { return ClassRecord(); }

void TTree::Detach() {
    UnlinkFromRing();
    parent = nullptr;
}

bool TTree::IsSelfOrAncestor(const TTree* candidate) const {
    for (const TTree* tree = this; tree != nullptr; tree = tree->parent)
        if (tree == candidate) return true;
    return false;
}

void TTree::AddChild(TTree* child) {
    // A tree inside its own subtree would make a cycle: endless walks, and
    // a destructor deleting itself.
    KAV_CONTRACT(child != nullptr, "TTree::AddChild needs a child");
    KAV_CONTRACT(!IsSelfOrAncestor(child),
                 "TTree::AddChild of the tree itself or an ancestor would make a cycle");
    child->Detach();
    child->parent = this;
    child->next = childHead;
    child->prev = childHead->prev;
    childHead->prev->next = child;
    childHead->prev = child;
}

TTree* TTree::GetFirstChild() const {
    // Every node of a child ring but the head is a tree: only AddChild links
    // nodes into it.
    return childHead->next != childHead ? static_cast<TTree*>(childHead->next) : nullptr;
}

TTree* TTree::GetNextSibling() const {
    if (parent == nullptr || next->children == nullptr) return nullptr;
    return static_cast<TTree*>(next);
}

std::size_t TTree::GetChildCount() const {
    std::size_t count = 0;
    for (const TVTree* node = childHead->next; node != childHead; node = node->next) ++count;
    return count;
}

void TTree::SavePre(TSLArchive& archive) {
    TVTree::SavePre(archive);
    const auto count = static_cast<std::uint32_t>(GetChildCount());
    SLWriteSize(archive, &count);
    for (TTree* child = GetFirstChild(); child != nullptr; child = child->GetNextSibling())
        if (!SLSaveObject(archive, &child)) return;  // the archive has failed: no more children
}

void TTree::LoadPre(TSLArchive& archive) {
    TVTree::LoadPre(archive);
    if (!archive.CanCode()) return;
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    // One child at a time: a count the stream cannot hold ends at the first
    // record that is not there.
    for (std::uint32_t i = 0; i < count && !archive.Failed(); ++i) {
        TTree* child = nullptr;
        if (!SLLoadObject(archive, &child)) return;
        // A child that already has a parent (one met earlier in this archive,
        // named again by a back-reference) stays where it is: taking it would
        // change a tree this load did not create, and a failed load must leave
        // those as they were.
        const char* refused = child == nullptr                ? "is null"
                              : child->GetParent() != nullptr ? "already has a parent"
                              : IsSelfOrAncestor(child)       ? "is the tree itself or one of its ancestors"
                                                              : nullptr;
        if (refused != nullptr) {
            archive.Fail(TSLFailure::ObjectRefused, "TTree: child " + std::to_string(i + 1) + " of " +
                                                        std::to_string(count) + " " + refused);
            return;
        }
        AddChild(child);
    }
}

void TTree::Save(TSLArchive& archive) {
    TVTree::Save(archive);
    static_cast<void>(SkipFields(archive));
}

void TTree::Load(TSLArchive& archive) {
    TVTree::Load(archive);
    static_cast<void>(SkipFields(archive));
}

void TTree::SLDiscardLinks() {
    TVTree* node = childHead->next;
    while (node != childHead) {
        TVTree* following = node->next;
        node->next = node;
        node->prev = node;
        node->parent = nullptr;
        node = following;
    }
    childHead->next = childHead;
    childHead->prev = childHead;
    UnlinkFromRing();
    parent = nullptr;
}

const TSLClassRecord* TTree::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TTree", &TVTree::ClassRecord, &TTree::NewInstance);
}

TKavSLRoot* TTree::NewInstance() { return SLNewInstance<TTree>(); }

}  // namespace KavV3Base
