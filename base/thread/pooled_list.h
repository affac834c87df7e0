// KavV3Base::TPooledList, the framework's doubly linked ring that recycles its
// nodes, with the node types' shared pools.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/contract.h"
#include "base/thread/critical_section.h"
#include "base/thread/system_init.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base {

// A node of a TPooledList<T>: the element value first, then the links.
// `value` is alive only while the node holds an element; the head node and
// spare nodes hold none. A node that is in no ring is linked to itself.
template <class T>
struct TPooledListNode {
    TPooledListNode() : next(this), prev(this) {}
    ~TPooledListNode() {}  // the list constructs and destroys `value`
    TPooledListNode(const TPooledListNode&) = delete;
    TPooledListNode& operator=(const TPooledListNode&) = delete;

    union {
        T value;
    };
    TPooledListNode* next;
    TPooledListNode* prev;
};

// A ring of spare nodes around a head node, from which lists take nodes and
// to which they return them. Not thread-safe: its users guard it.
template <class T>
struct TPooledNodePool {
    TPooledNodePool() : spare(new TPooledListNode<T>) {}
    ~TPooledNodePool();
    TPooledNodePool(const TPooledNodePool&) = delete;
    TPooledNodePool& operator=(const TPooledNodePool&) = delete;

    TPooledListNode<T>* spare;  // head of the spare ring; self-linked when empty
};

// A list of T values in a doubly linked ring around a head node, which
// recycles its nodes: a removed element's node goes to the front of a ring of
// spare nodes, and the next node needed is taken from there (the one returned
// last first) before the allocator is asked. Once a list has held its largest
// number of elements, pushing and popping only relink nodes.
//
// Nodes come from the list's node source: `sharedSource` if set, otherwise
// the list's own spare ring (ownSpare 1, the state every list starts in),
// otherwise entry 0 of the node type's shared pool table.
//
// Removing an element destroys the value held in the node; for the pointer
// elements the framework stores, the object pointed to is not touched.
//
// Not thread-safe: the owner guards a list (and a shared source) with its
// own lock. The first construction of each node type registers the type with
// the thread slot registry, under the process-wide lock.
template <class T>
class TPooledList {
public:
    using TNode = TPooledListNode<T>;
    using TPool = TPooledNodePool<T>;

    template <bool Const>
    class TIterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        TIterator() = default;
        explicit TIterator(TNode* n) : node(n) {}
        operator TIterator<true>() const requires(!Const) { return TIterator<true>(node); }

        reference operator*() const { return node->value; }
        pointer operator->() const { return &node->value; }
        TIterator& operator++() {
            node = node->next;
            return *this;
        }
        TIterator operator++(int) {
            TIterator old = *this;
            node = node->next;
            return old;
        }
        TIterator& operator--() {
            node = node->prev;
            return *this;
        }
        TIterator operator--(int) {
            TIterator old = *this;
            node = node->prev;
            return old;
        }
        friend bool operator==(const TIterator& a, const TIterator& b) { return a.node == b.node; }

        TNode* Node() const { return node; }

    private:
        TNode* node = nullptr;
    };
    using iterator = TIterator<false>;
    using const_iterator = TIterator<true>;

    TPooledList();
    // Returns every node, the head included, to the node source, then frees
    // the list's own spare ring. Values still listed are destroyed; objects
    // they point to are not touched.
    ~TPooledList();
    TPooledList(const TPooledList&) = delete;
    TPooledList& operator=(const TPooledList&) = delete;
    // Moving swaps with a freshly constructed list: the source stays usable.
    TPooledList(TPooledList&& other) : TPooledList() { Swap(other); }
    TPooledList& operator=(TPooledList&& other) {
        Swap(other);
        return *this;
    }
    void Swap(TPooledList& other) noexcept {
        std::swap(spare, other.spare);
        std::swap(sharedSource, other.sharedSource);
        std::swap(ownSpare, other.ownSpare);
        std::swap(head, other.head);
    }

    // --- Elements ---
    bool IsEmpty() const { return head->next == head; }
    // Number of elements; walks the ring.
    std::size_t Count() const;
    void PushBack(const T& value) { InsertBefore(head, TakeNode(value)); }
    void PushBack(T&& value) { InsertBefore(head, TakeNode(std::move(value))); }
    void PushFront(const T& value) { InsertBefore(head->next, TakeNode(value)); }
    void PushFront(T&& value) { InsertBefore(head->next, TakeNode(std::move(value))); }
    // Removes the first element and gives its value back. Only on a
    // non-empty list.
    T PopFront();
    T& Front() { return First()->value; }
    const T& Front() const { return First()->value; }
    T& Back() { return Last()->value; }
    const T& Back() const { return Last()->value; }
    // Removes every element.
    void Clear();

    iterator begin() { return iterator(head->next); }
    iterator end() { return iterator(head); }
    const_iterator begin() const { return const_iterator(head->next); }
    const_iterator end() const { return const_iterator(head); }
    // Removes the element at pos; returns the position after it.
    iterator Erase(const_iterator pos);

    // --- Nodes ---
    // The head node: Head()->next is the first element, Head()->prev the last.
    TNode* Head() const { return head; }
    // The first and last element nodes. Only on a non-empty list.
    TNode* First() const;
    TNode* Last() const;
    // Takes a node from the node source (a spare one if there is one, else a
    // new one), stores value in it and returns it self-linked, in no ring.
    TNode* TakeNode(const T& value) { return TakeNodeWith(value); }
    TNode* TakeNode(T&& value) { return TakeNodeWith(std::move(value)); }
    // Links a self-linked node into a ring just before pos. InsertBefore(Head(),
    // node) makes it the last element.
    static void InsertBefore(TNode* pos, TNode* node);
    // Unlinks an element node of this list from its ring, destroys its value
    // and puts the node at the front of the node source's spare ring.
    void ReturnNode(TNode* node);

    // --- Node source ---
    // Takes nodes from, and returns them to, pool instead (null: back to the
    // list's own choice). The pool must outlive the list.
    void SetSharedSource(TPool* pool) { sharedSource = pool; }
    TPool* GetSharedSource() const { return sharedSource; }
    // 1: the list's own spare ring; 0: entry 0 of the shared pool table.
    void SetOwnSpare(std::int32_t value) { ownSpare = value; }
    std::int32_t GetOwnSpare() const { return ownSpare; }
    // Head of the spare ring nodes are taken from and returned to.
    TNode* SourceSpare() const;
    // Head of the list's own spare ring.
    TNode* OwnSpareHead() const { return spare; }

    // --- The node type's shared pool table ---
    // Entry `index` of the table, or null (no such entry, or not created).
    // The table is changed only on the first construction of a list of this
    // type and by SlotCallback; read it while no such change can happen.
    static TPool* SharedPool(std::size_t index);
    static std::size_t SharedPoolCount();
    // The node type's thread callback (registered with AddThreadCallback):
    // makes sure the table has an empty pool at entry slot. Under the
    // process-wide lock.
    static void SlotCallback(std::int32_t slot);

private:
    static void Unlink(TNode* node);
    static void ReturnToRing(TNode* ring, TNode* node);
    static void FreeRing(TNode* ring);
    TNode* TakeFromSource();
    template <class U>
    TNode* TakeNodeWith(U&& value);
    static void InitNodeType();
    static void ReleasePoolTable();

    TNode* spare;           // own spare ring
    TPool* sharedSource;    // if set, the node source
    std::int32_t ownSpare;  // 1: own spare ring; 0: shared pool table entry 0
    TNode* head;            // head of the element ring

    using TPoolTable = std::vector<TPool*>;
    static inline std::atomic<bool> typeReady{false};
    static inline std::atomic<TPoolTable*> poolTable{nullptr};
    alignas(TPoolTable) static inline unsigned char poolTableStorage[sizeof(TPoolTable)];
};

// --- TPooledNodePool ---

template <class T>
TPooledNodePool<T>::~TPooledNodePool() {
    TPooledListNode<T>* node = spare->next;
    while (node != spare) {
        TPooledListNode<T>* next = node->next;
        delete node;
        node = next;
    }
    delete spare;
}

// --- Ring helpers ---

template <class T>
void TPooledList<T>::Unlink(TNode* node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->next = node;
    node->prev = node;
}

template <class T>
void TPooledList<T>::InsertBefore(TNode* pos, TNode* node) {
    KAV_CONTRACT(node->next == node && node->prev == node, "InsertBefore needs a node that is in no ring");
    node->next = pos;
    node->prev = pos->prev;
    pos->prev->next = node;
    pos->prev = node;
}

template <class T>
void TPooledList<T>::ReturnToRing(TNode* ring, TNode* node) {
    Unlink(node);
    InsertBefore(ring->next, node);
}

template <class T>
void TPooledList<T>::FreeRing(TNode* ring) {
    TNode* node = ring->next;
    while (node != ring) {
        TNode* next = node->next;
        delete node;
        node = next;
    }
    delete ring;
}

// --- Node source ---

template <class T>
typename TPooledList<T>::TNode* TPooledList<T>::SourceSpare() const {
    if (sharedSource != nullptr) return sharedSource->spare;
    if (ownSpare != 0) return spare;
    // The shared table is gone only during exit; fall back on the own ring.
    if (TPool* pool = SharedPool(0)) return pool->spare;
    return spare;
}

template <class T>
typename TPooledList<T>::TNode* TPooledList<T>::TakeFromSource() {
    TNode* ring = SourceSpare();
    TNode* node = ring->next;
    if (node == ring) return new TNode;
    Unlink(node);
    return node;
}

template <class T>
template <class U>
typename TPooledList<T>::TNode* TPooledList<T>::TakeNodeWith(U&& value) {
    TNode* node = TakeFromSource();
    try {
        ::new (static_cast<void*>(&node->value)) T(std::forward<U>(value));
    } catch (...) {
        InsertBefore(SourceSpare()->next, node);
        throw;
    }
    return node;
}

template <class T>
void TPooledList<T>::ReturnNode(TNode* node) {
    KAV_CONTRACT(node != head, "ReturnNode cannot return the head node");
    node->value.~T();
    ReturnToRing(SourceSpare(), node);
}

// --- Elements ---

template <class T>
typename TPooledList<T>::TNode* TPooledList<T>::First() const {
    KAV_CONTRACT(!IsEmpty(), "First on an empty TPooledList");
    return head->next;
}

template <class T>
typename TPooledList<T>::TNode* TPooledList<T>::Last() const {
    KAV_CONTRACT(!IsEmpty(), "Last on an empty TPooledList");
    return head->prev;
}

template <class T>
std::size_t TPooledList<T>::Count() const {
    std::size_t n = 0;
    for (TNode* node = head->next; node != head; node = node->next) ++n;
    return n;
}

template <class T>
T TPooledList<T>::PopFront() {
    KAV_CONTRACT(!IsEmpty(), "PopFront on an empty TPooledList");
    TNode* node = head->next;
    T value(std::move(node->value));
    ReturnNode(node);
    return value;
}

template <class T>
void TPooledList<T>::Clear() {
    while (!IsEmpty()) ReturnNode(head->next);
}

template <class T>
typename TPooledList<T>::iterator TPooledList<T>::Erase(const_iterator pos) {
    TNode* node = pos.Node();
    KAV_CONTRACT(node != head, "Erase at end()");
    TNode* next = node->next;
    ReturnNode(node);
    return iterator(next);
}

// --- Life cycle ---

template <class T>
TPooledList<T>::TPooledList() : spare(new TNode), sharedSource(nullptr), ownSpare(1), head(nullptr) {
    try {
        InitNodeType();
        head = TakeFromSource();
    } catch (...) {
        // No destructor runs for a constructor that throws (an allocation
        // failure): the spare ring's head would be lost.
        FreeRing(spare);
        throw;
    }
}

template <class T>
TPooledList<T>::~TPooledList() {
    if (head != nullptr) {
        for (TNode* node = head->next; node != head; node = node->next) node->value.~T();
        // Splice the whole element ring, head included, to the front of the
        // source's spare ring.
        TNode* ring = SourceSpare();
        TNode* first = head;
        TNode* last = head->prev;
        TNode* after = ring->next;
        ring->next = first;
        first->prev = ring;
        last->next = after;
        after->prev = last;
    }
    FreeRing(spare);
}

// --- The node type's shared pool table ---

template <class T>
void TPooledList<T>::InitNodeType() {
    if (typeReady.load(std::memory_order_acquire)) return;
    TScopedLock lock(GetProcessLock());
    if (typeReady.load(std::memory_order_relaxed)) return;
    GetSystemRecord();
    auto* table = ::new (static_cast<void*>(poolTableStorage)) TPoolTable;
    try {
        std::unique_ptr<TPool> first(new TPool);
        table->push_back(first.get());
        first.release();
        // Once only: a later call after an allocation failure here retries.
        AddThreadCallback(&SlotCallback);
    } catch (...) {
        for (TPool* pool : *table) delete pool;
        table->~TPoolTable();
        throw;
    }
    std::atexit(&ReleasePoolTable);
    poolTable.store(table, std::memory_order_release);
    typeReady.store(true, std::memory_order_release);
}

template <class T>
void TPooledList<T>::ReleasePoolTable() {
    TPoolTable* table = poolTable.exchange(nullptr, std::memory_order_acq_rel);
    if (table == nullptr) return;
    for (TPool* pool : *table) delete pool;
    table->~TPoolTable();
}

template <class T>
typename TPooledList<T>::TPool* TPooledList<T>::SharedPool(std::size_t index) {
    TPoolTable* table = poolTable.load(std::memory_order_acquire);
    return table != nullptr && index < table->size() ? (*table)[index] : nullptr;
}

template <class T>
std::size_t TPooledList<T>::SharedPoolCount() {
    TPoolTable* table = poolTable.load(std::memory_order_acquire);
    return table != nullptr ? table->size() : 0;
}

template <class T>
void TPooledList<T>::SlotCallback(std::int32_t slot) {
    KAV_CONTRACT(slot >= 0, "SlotCallback needs a slot index");
    TScopedLock lock(GetProcessLock());
    TPoolTable* table = poolTable.load(std::memory_order_acquire);
    if (table == nullptr || slot < 0) return;
    const auto s = static_cast<std::size_t>(slot);
    if (s < table->size()) return;
    table->resize(s + 1, nullptr);
    (*table)[s] = new TPool;
}

}  // namespace KavV3Base
