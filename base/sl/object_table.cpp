#include "base/sl/object_table.h"

#include <cstdint>

#include "base/contract.h"

namespace KavV3Base {

std::size_t TSLObjectTable::ObjectBucket(const TKavSLRoot* object) const {
    return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(object) % byObject.size());
}

void TSLObjectTable::Rehash(std::size_t buckets) {
    byIdentity.assign(buckets, TChain{});
    byObject.assign(buckets, TChain{});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].nextByIdentity = None;
        entries[i].nextByObject = None;
        if (entries[i].object != nullptr) Chain(i);
    }
}

void TSLObjectTable::Chain(std::size_t index) {
    // Appends the entry to the end of a bucket's chain, linked through `next`.
    const auto append = [&](TChain& chain, std::size_t TEntry::*next) {
        if (chain.last == None)
            chain.first = index;
        else
            entries[chain.last].*next = index;
        chain.last = index;
    };
    const TEntry& entry = entries[index];
    append(byIdentity[IdentityBucket(entry.identity)], &TEntry::nextByIdentity);
    append(byObject[ObjectBucket(entry.object)], &TEntry::nextByObject);
}

void TSLObjectTable::Insert(std::uint32_t identity, TKavSLRoot* object) {
    KAV_CONTRACT(object != nullptr, "TSLObjectTable::Insert(%lu, null): the table holds objects, not null",
                 static_cast<unsigned long>(identity));
    // A table that holds anything soon holds several: room for a few pairs at
    // once instead of growing through one, two and four.
    if (entries.capacity() == 0) entries.reserve(8);
    entries.push_back({identity, object, None, None});
    ++count;
    if (byIdentity.empty()) {
        // Too many for a scan: hash everything held so far, in insertion order.
        if (entries.size() > LinearLimit) Rehash(BucketCount);
    } else if (count > 2 * byIdentity.size()) {
        Rehash(2 * byIdentity.size());
    } else {
        Chain(entries.size() - 1);
    }
}

TKavSLRoot* TSLObjectTable::FindObject(std::uint32_t identity) const {
    if (byIdentity.empty()) {
        for (const TEntry& entry : entries)
            if (entry.identity == identity && entry.object != nullptr) return entry.object;
        return nullptr;
    }
    for (std::size_t i = byIdentity[IdentityBucket(identity)].first; i != None; i = entries[i].nextByIdentity)
        if (entries[i].identity == identity && entries[i].object != nullptr) return entries[i].object;
    return nullptr;
}

std::uint32_t TSLObjectTable::FindIdentity(const TKavSLRoot* object) const {
    if (object == nullptr) return 0;
    if (byObject.empty()) {
        for (const TEntry& entry : entries)
            if (entry.object == object) return entry.identity;
        return 0;
    }
    for (std::size_t i = byObject[ObjectBucket(object)].first; i != None; i = entries[i].nextByObject)
        if (entries[i].object == object) return entries[i].identity;
    return 0;
}

void TSLObjectTable::Remove(const TKavSLRoot* object) {
    if (object == nullptr) return;
    auto drop = [&](TEntry& entry) {
        if (entry.object != object) return;
        entry.object = nullptr;
        --count;
    };
    if (byObject.empty()) {
        for (TEntry& entry : entries) drop(entry);
        // A failed load removes the pairs it added last: forget them altogether.
        while (!entries.empty() && entries.back().object == nullptr) entries.pop_back();
        return;
    }
    for (std::size_t i = byObject[ObjectBucket(object)].first; i != None; i = entries[i].nextByObject)
        drop(entries[i]);
}

std::uint32_t TSLObjectTable::NewIdentity() {
    if (nextIdentity == 0) return 0;
    return nextIdentity++;
}

}  // namespace KavV3Base
