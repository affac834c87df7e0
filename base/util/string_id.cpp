#include "base/util/string_id.h"

#include <atomic>
#include <string>
#include <utility>

#include "base/contract.h"
#include "base/sl/archive.h"
#include "base/thread/process_singleton.h"

namespace KavV3Base {

TStringID::TStringID() {
    entries.push_back(StringEntry{});
    AddToIndex(0);
}

TStringID::~TStringID() = default;

const TSLClassRecord* TStringID::GetClassRecord() { return ClassRecord(); }

std::uint32_t TStringID::HashText(const TString& text) {
    const char* chars = text.CStr();
    const std::size_t length = text.Length();
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum += static_cast<unsigned char>(chars[i]);
    return sum;
}

void TStringID::AddToBucket(TPooledNodePool<std::uint32_t>& pool, TBuckets& buckets, std::uint32_t bucket,
                            std::uint32_t id) {
    if (buckets.size() <= bucket) buckets.resize(bucket + 1);
    std::unique_ptr<TIdList>& list = buckets[bucket];
    if (!list) {
        list = std::make_unique<TIdList>();
        list->SetSharedSource(&pool);
    }
    list->PushBack(id);
}

void TStringID::AddToIndex(std::uint32_t id) {
    AddToBucket(indexPool, hashIndex, BucketOf(entries[id].entryText), id);
}

std::uint32_t TStringID::GetID(const TString& text) {
    const std::uint32_t bucket = BucketOf(text);
    if (const TIdList* list = bucket < hashIndex.size() ? hashIndex[bucket].get() : nullptr) {
        for (const std::uint32_t id : *list)
            if (entries[id].entryText == text) return id;
    }
    const auto id = static_cast<std::uint32_t>(entries.size());
    entries.push_back(StringEntry{static_cast<std::int32_t>(id), text});
    try {
        AddToBucket(indexPool, hashIndex, bucket, id);
    } catch (...) {
        entries.pop_back();  // keep every entry indexed
        throw;
    }
    return id;
}

const TString& TStringID::GetText(std::uint32_t id) const {
    KAV_CONTRACT(id < entries.size(), "TStringID::GetText(%lu): the table has given out the ids 0 to %lu",
                 static_cast<unsigned long>(id), static_cast<unsigned long>(entries.size() - 1));
    return entries[id].entryText;
}

std::vector<std::uint32_t> TStringID::GetBucket(std::uint32_t b) const {
    std::vector<std::uint32_t> ids;
    if (b < hashIndex.size() && hashIndex[b]) ids.assign(hashIndex[b]->begin(), hashIndex[b]->end());
    return ids;
}

void TStringID::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    if (SkipFields(archive) != 0) return;

    const std::uint32_t count = GetCount();
    SLWriteSize(archive, &count);
    for (const StringEntry& entry : entries) {
        SLWriteInt(archive, &entry.entryId);
        SLWriteString(archive, &entry.entryText);
    }

    std::uint32_t indexed = 0;
    for (const auto& list : hashIndex)
        if (list) indexed += static_cast<std::uint32_t>(list->Count());
    SLWriteSize(archive, &indexed);
    for (const auto& list : hashIndex) {
        if (!list) continue;
        for (const std::uint32_t id : *list) {
            const auto value = static_cast<std::int32_t>(id);
            SLWriteInt(archive, &value);
        }
    }
}

void TStringID::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    if (SkipFields(archive) != 0 || !archive.CanCode()) return;

    // Everything is read and checked before the table changes. The vectors
    // grow only as values arrive, so a count larger than the stream can hold
    // ends at the first failed read instead of allocating for it.
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    std::vector<StringEntry> loaded;
    for (std::uint32_t i = 0; i < count && !archive.Failed(); ++i) {
        StringEntry entry;
        SLReadInt(archive, &entry.entryId);
        SLReadString(archive, &entry.entryText);
        if (archive.Failed()) return;
        if (entry.entryId != static_cast<std::int32_t>(i)) {
            archive.Fail(TSLFailure::ObjectRefused, "TStringID: entry " + std::to_string(i) + " has the id " +
                                                        std::to_string(entry.entryId) +
                                                        "; every entry's id is its position");
            return;
        }
        if (i == 0 && entry.entryText.Length() != 0) {
            archive.Fail(TSLFailure::ObjectRefused, "TStringID: entry 0 holds a text; it is the empty text");
            return;
        }
        loaded.push_back(std::move(entry));
    }
    if (archive.Failed()) return;
    if (loaded.empty()) {
        archive.Fail(TSLFailure::ObjectRefused,
                     "TStringID: a table without entries; entry 0 is always there");
        return;
    }

    std::uint32_t indexed = 0;
    SLReadSize(archive, &indexed);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < indexed && !archive.Failed(); ++i) {
        std::int32_t id = -1;
        SLReadInt(archive, &id);
        if (archive.Failed()) return;
        if (id < 0 || static_cast<std::uint32_t>(id) >= loaded.size()) {
            archive.Fail(TSLFailure::ObjectRefused, "TStringID: the index holds the id " +
                                                        std::to_string(id) + ", and the table has " +
                                                        std::to_string(loaded.size()) + " entries");
            return;
        }
        ids.push_back(static_cast<std::uint32_t>(id));
    }
    if (archive.Failed()) return;

    // Commit. The index starts empty, so no id of the old table stays behind.
    entries = std::move(loaded);
    for (auto& list : hashIndex)
        if (list) list->Clear();
    std::vector<bool> present(entries.size(), false);
    for (const std::uint32_t id : ids) {
        if (present[id]) continue;
        present[id] = true;
        AddToIndex(id);
    }
    for (std::uint32_t id = 0; id < entries.size(); ++id)
        if (!present[id]) AddToIndex(id);
}

TStringID* TStringID::Global() {
    // Constructing the table makes its first index list, which registers the
    // node type's pool teardown at exit ahead of the table's own destruction,
    // so the table goes first.
    return TProcessSingleton<TStringID>::Get();
}

const TSLClassRecord* TStringID::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TStringID", &TKavSL::ClassRecord, &TStringID::NewInstance);
}

TKavSLRoot* TStringID::NewInstance() { return SLNewInstance<TStringID>(); }

}  // namespace KavV3Base
