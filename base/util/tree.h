// KavV3Base::TVTree and KavV3Base::TTree, the framework's serializable ordered trees.
#pragma once

#include <cstddef>

#include "base/sl/kav_sl.h"

namespace KavV3Base {

class TTree;

// A node of an intrusive sibling ring. A plain TVTree cannot have children
// (`children` is null); it serves as the head node of a TTree's child ring,
// and that null is how a walk along a ring recognises its end. A node in no
// ring is linked to itself. The destructor does not unlink the node.
//
// Registered as "TVTree", base "TKavSL"; saves and loads nothing of its own.
//
// No lock: a tree and all nodes linked to it are used by one thread at a time.
class TVTree : public TKavSL {
public:
    TVTree() = default;
    TVTree(const TVTree&) = delete;
    TVTree& operator=(const TVTree&) = delete;

    const TSLClassRecord* GetClassRecord() override;

    TVTree* GetNext() const { return next; }
    TVTree* GetPrev() const { return prev; }
    TVTree* GetChildren() const { return children; }
    TTree* GetParent() const { return parent; }

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

protected:
    friend class TTree;

    // Takes the node out of its ring and closes the gap; the node is left
    // linked to itself. Does nothing visible on a node in no ring.
    void UnlinkFromRing();

    TVTree* next = this;         // next node of the sibling ring
    TVTree* children = nullptr;  // head of the own child ring; null for a plain TVTree
    TTree* parent = nullptr;     // the tree whose ring holds this node; null when detached
    TVTree* prev = this;         // previous node of the sibling ring
};

// A tree that owns its children: they sit in a ring that runs from the head
// node `childHead` through the children in the order they were added and
// back, and a tree deletes its whole subtree with itself.
//
// A tree is never its own ancestor: adding the tree itself or one of its
// ancestors as a child is a broken contract and stops the program, so walks
// up and down always end.
//
// Saving writes the child count (SLWriteSize) and each child as an object
// reference (SLSaveObject) in SavePre, so a subtree is written depth first
// with every child's record nested inside its parent's; LoadPre reads them
// back and appends each child in turn. A load that meets a child that is not
// a tree fails the archive (TypeMismatch), and so does one that is null,
// already has a parent or would make a cycle (ObjectRefused).
//
// Registered as "TTree", base "TVTree".
//
// No lock: a tree is used by one thread at a time.
class TTree : public TVTree {
public:
    TTree();
    // Unlinks the tree from its parent's ring, deletes every child, first to
    // last, and with them their subtrees, then the head node. Each tree is
    // deleted before its children; the deletion takes no stack in proportion
    // to the depth.
    ~TTree() override;

    const TSLClassRecord* GetClassRecord() override;
    void SavePre(TSLArchive& archive) override;
    void LoadPre(TSLArchive& archive) override;
    void Save(TSLArchive& archive) override;
    void Load(TSLArchive& archive) override;
    // Lets go of the children (each is left detached, none deleted) and of the
    // parent (this tree leaves the parent's ring), so that the destructor
    // reaches no other object.
    void SLDiscardLinks() override;

    // Takes the tree out of its parent's ring, deleting nothing. Parent null.
    virtual void Detach();
    // Detaches child from wherever it is (this tree included) and appends it
    // as the last child, which this tree then owns. child must not be null,
    // this tree itself or one of its ancestors (IsSelfOrAncestor).
    virtual void AddChild(TTree* child);

    // The first child, or null.
    TTree* GetFirstChild() const;
    // The child after this tree in its parent's ring, or null for the last
    // child and for a detached tree.
    TTree* GetNextSibling() const;
    // Number of children, by walking the ring.
    std::size_t GetChildCount() const;
    // Whether candidate is this tree or one of its ancestors.
    bool IsSelfOrAncestor(const TTree* candidate) const;

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    TVTree* childHead;  // owned
};

}  // namespace KavV3Base
