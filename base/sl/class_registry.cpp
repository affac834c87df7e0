#include "base/sl/class_registry.h"

#include <cstring>
#include <utility>

#include "base/thread/critical_section.h"
#include "base/thread/pooled_list.h"
#include "base/thread/process_singleton.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base {

// The buckets of both maps. Both hold pointers to the records; the lists
// take their nodes from one pool of spare nodes, declared first so that it
// outlives them.
struct TKavSLRegister::TTables {
    using TList = TPooledList<const TSLClassRecord*>;

    TTables() = default;
    ~TTables() {
        // The id side first, then the name side.
        for (auto& bucket : IdTable) bucket.reset();
        for (auto& bucket : NameTable) bucket.reset();
    }
    TTables(const TTables&) = delete;
    TTables& operator=(const TTables&) = delete;

    static void Append(std::unique_ptr<TList>& bucket, TPooledNodePool<const TSLClassRecord*>* pool,
                       const TSLClassRecord* record) {
        if (!bucket) {
            bucket = std::make_unique<TList>();
            bucket->SetSharedSource(pool);
        }
        bucket->PushBack(record);
    }
    void Add(const TSLClassRecord* record) {
        Append(NameTable[NameBucket(record->Name)], &pool, record);
        Append(IdTable[IdBucket(record->Id)], &pool, record);
    }

    TPooledNodePool<const TSLClassRecord*> pool;
    // A bucket's list is made when the first record lands in it.
    std::unique_ptr<TList> NameTable[BucketCount];
    std::unique_ptr<TList> IdTable[BucketCount];
};

TKavSLRegister::TKavSLRegister() = default;

TKavSLRegister::~TKavSLRegister() {
    // The buckets point at the records: they go first.
    tables.reset();
    records.clear();
}

TKavSLRegister* TKavSLRegister::Instance() {
    // One throw-away list of the buckets' node type makes it register its
    // pools' teardown at exit ahead of the registry's own destruction, so the
    // registry goes first.
    return TProcessSingleton<TKavSLRegister>::Get([](TKavSLRegister&) {
        { const TPooledList<const TSLClassRecord*> bucketNodeType; }
    });
}

std::uint32_t TKavSLRegister::NameBucket(const TString& name) {
    const std::size_t length = name.Length();
    const char* text = name.CStr();
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = (sum + static_cast<unsigned char>(text[i])) % BucketCount;
    return sum;
}

const TSLClassRecord* TKavSLRegister::Register(const TSLClassRecord& record) {
    if (const TSLClassRecord* existing = FindByName(record.Name)) return existing;

    // Room first, so that nothing below can throw once NextId has moved on.
    // Most registries (an archive's table of the classes it met) hold a few
    // records: the first allocation already has room for several.
    if (records.size() == records.capacity()) records.reserve(records.empty() ? 4 : 2 * records.capacity());
    auto copy = std::make_unique<TSLClassRecord>(record);
    if (copy->Id < 1) copy->Id = NextId++;
    records.push_back(std::move(copy));
    const TSLClassRecord* stored = records.back().get();
    if (tables) {
        tables->Add(stored);
    } else if (records.size() > LinearLimit) {
        tables = std::make_unique<TTables>();
        for (const auto& held : records) tables->Add(held.get());
    }
    return stored;
}

template <class TBucket, class TMatches>
const TSLClassRecord* TKavSLRegister::Find(const TBucket* bucket, TMatches matches) const {
    if (bucket == nullptr) {
        for (const auto& record : records)
            if (matches(*record)) return record.get();
        return nullptr;
    }
    if (!*bucket) return nullptr;
    for (const TSLClassRecord* record : **bucket)
        if (matches(*record)) return record;
    return nullptr;
}

const TSLClassRecord* TKavSLRegister::FindByName(const TString& name) const {
    return Find(tables ? &tables->NameTable[NameBucket(name)] : nullptr,
                [&](const TSLClassRecord& record) { return record.Name == name; });
}

const TSLClassRecord* TKavSLRegister::FindById(std::int32_t id) const {
    return Find(tables ? &tables->IdTable[IdBucket(id)] : nullptr,
                [&](const TSLClassRecord& record) { return record.Id == id; });
}

const TSLClassRecord* SLRegisterClass(std::atomic<const TSLClassRecord*>& cache, const char* name,
                                      const TSLClassRecord* (*parent)(), TSLFactory factory) {
    const TSLClassRecord* record = cache.load(std::memory_order_acquire);
    if (record != nullptr) return record;
    TScopedLock lock(GetProcessLock());
    record = cache.load(std::memory_order_relaxed);
    if (record != nullptr) return record;
    // The parent chain is registered first, so parents get the lower ids.
    const TSLClassRecord* base = parent != nullptr ? parent() : nullptr;
    TKavSLRegister* registry = TKavSLRegister::Instance();
    if (registry == nullptr) return nullptr;
    TSLClassRecord fresh;
    fresh.Name = TString(name);
    fresh.Id = 0;
    fresh.Base = base;
    fresh.Factory = factory;
    record = registry->Register(std::move(fresh));
    cache.store(record, std::memory_order_release);
    return record;
}

}  // namespace KavV3Base
