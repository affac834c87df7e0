// KavV3Base::TSLObjectTable, an archive's two-way table of object identities and objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KavV3Base {

class TKavSLRoot;

// Pairs of (identity, object) of one archive, looked up both ways: by
// identity and by object address. While saving it holds every object written
// so far with the identity it was given; while loading, every object created
// so far under the identity the archive gave it. Among equal keys the oldest
// pair wins.
//
// An archive is created for every save and load, and most of them meet a
// handful of objects, so a new table allocates nothing and a small one is
// scanned in insertion order. Once it holds more than LinearLimit pairs it is
// hashed both ways into BucketCount (1027) buckets (identity modulo the
// bucket count, address modulo the bucket count), each bucket a chain in
// insertion order, so a lookup scans one bucket. The bucket count doubles
// whenever the pairs outnumber the buckets twice over, so the chains stay
// short and a table of N pairs costs time in proportion to N.
//
// Identities are 32-bit numbers handed out by NewIdentity, counting from 1,
// so two objects of one archive never share one (an address cut to 32 bits
// could). Identity 0 stands for "no object" and is never handed out.
//
// Not thread-safe: it belongs to one archive, driven by one thread.
class TSLObjectTable {
public:
    static constexpr std::uint32_t BucketCount = 1027;
    // Pairs held before the buckets are built.
    static constexpr std::size_t LinearLimit = 16;

    TSLObjectTable() = default;
    TSLObjectTable(const TSLObjectTable&) = delete;
    TSLObjectTable& operator=(const TSLObjectTable&) = delete;

    // Adds the pair to both sides. object must not be null.
    void Insert(std::uint32_t identity, TKavSLRoot* object);
    // The object of the oldest pair with this identity, or null.
    TKavSLRoot* FindObject(std::uint32_t identity) const;
    // The identity of the oldest pair holding object, or 0 when there is none.
    std::uint32_t FindIdentity(const TKavSLRoot* object) const;
    // Drops every pair that holds object (used when a failed load deletes the
    // objects it created).
    void Remove(const TKavSLRoot* object);

    // The next unused identity, counting from 1; 0 once all 2^32 - 1 are spent.
    std::uint32_t NewIdentity();
    // Number of pairs held.
    std::size_t Count() const { return count; }

private:
    static constexpr std::size_t None = static_cast<std::size_t>(-1);

    // A removed pair stays in `entries` with a null object, so that the chains
    // through it stay intact; lookups pass over it.
    struct TEntry {
        std::uint32_t identity;
        TKavSLRoot* object;
        std::size_t nextByIdentity;  // the next entry of the same identity bucket, or None
        std::size_t nextByObject;    // the next entry of the same object bucket, or None
    };
    // First and last entry of one bucket's chain.
    struct TChain {
        std::size_t first = None;
        std::size_t last = None;
    };

    std::size_t IdentityBucket(std::uint32_t identity) const { return identity % byIdentity.size(); }
    std::size_t ObjectBucket(const TKavSLRoot* object) const;
    // Links entry `index` at the end of its two chains.
    void Chain(std::size_t index);
    // Rebuilds both sides with `buckets` buckets from the pairs held.
    void Rehash(std::size_t buckets);

    std::vector<TEntry> entries;     // every pair, in insertion order
    std::vector<TChain> byIdentity;  // empty until entries outgrow LinearLimit
    std::vector<TChain> byObject;    // likewise
    std::size_t count = 0;           // pairs not removed
    std::uint32_t nextIdentity = 1;
};

}  // namespace KavV3Base
