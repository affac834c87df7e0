// KavV3Base::TStringID, the serializable table that gives every distinct text a small integer id.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/sl/kav_sl.h"
#include "base/stream/framework_string.h"
#include "base/thread/pooled_list.h"

namespace KavV3Base {

// Hands out ids consecutively from 0 in the order texts are first seen; id 0
// is always the empty text. The texts live in a vector indexed by id, and a
// hash index of 1027 buckets (byte sum of the text modulo 1027) finds the id
// of a text. Within a bucket ids stay in the order they were added.
//
// Invariant: every id below GetCount() is in its text's bucket exactly once,
// and the table is never empty (entry 0 exists from construction).
//
// Saved as: the entry count (SLWriteSize), each entry's id (SLWriteInt) and
// text (SLWriteString) in id order, then the number of indexed ids
// (SLWriteSize) and the ids bucket by bucket, each in bucket order
// (SLWriteInt).
//
// Registered as "TStringID", base "TKavSL".
//
// Concurrency: only the creation of the process-wide table (Global) is
// locked. GetID, GetText, Save and Load take no lock, so a table, the global
// one included, is used by one thread at a time.
class TStringID : public TKavSL {
public:
    static constexpr std::uint32_t BucketCount = 1027;

    struct StringEntry {
        std::int32_t entryId = 0;  // equal to the entry's position
        TString entryText;
    };

    TStringID();
    ~TStringID() override;
    TStringID(const TStringID&) = delete;
    TStringID& operator=(const TStringID&) = delete;

    const TSLClassRecord* GetClassRecord() override;
    void Save(TSLArchive& archive) override;
    // Replaces the table with the archive's. A malformed table (no entries,
    // entry 0 not the empty text, an entry id that is not its position, an
    // indexed id out of range) fails the archive (ObjectRefused) and leaves
    // this table as it was. Repeated ids in the index are kept once, and ids
    // the index lacks are added at the end of their buckets, so the invariant
    // holds.
    void Load(TSLArchive& archive) override;

    // The id of text; a text not seen before is added and gets the next id.
    std::uint32_t GetID(const TString& text);
    // The text of id. id must be one this table gave out: below GetCount().
    const TString& GetText(std::uint32_t id) const;
    // Number of entries, which is also the next id to be handed out.
    std::uint32_t GetCount() const { return static_cast<std::uint32_t>(entries.size()); }
    // The ids of bucket b in bucket order (empty for b out of range).
    std::vector<std::uint32_t> GetBucket(std::uint32_t b) const;

    // Sum of the text's bytes up to its NUL, in unsigned 32-bit arithmetic.
    static std::uint32_t HashText(const TString& text);
    static std::uint32_t BucketOf(const TString& text) { return HashText(text) % BucketCount; }

    // The process-wide table, created on first call under the process-wide
    // lock and destroyed by an exit handler. Any thread may call it; the table
    // itself is not thread-safe (see above). Null once the exit handler ran.
    static TStringID* Global();

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    using TIdList = TPooledList<std::uint32_t>;
    // Bucket b is entry b; entries past the last bucket used are not there yet.
    using TBuckets = std::vector<std::unique_ptr<TIdList>>;

    void AddToIndex(std::uint32_t id);
    static void AddToBucket(TPooledNodePool<std::uint32_t>& pool, TBuckets& buckets, std::uint32_t bucket,
                            std::uint32_t id);

    std::vector<StringEntry> entries;
    // Spare index nodes shared by all buckets; declared before the buckets so
    // that it outlives them.
    TPooledNodePool<std::uint32_t> indexPool;
    // A bucket's list is made when its first id arrives, and the bucket table
    // grows only as far as the highest bucket used, so a small table stays
    // small (the empty text alone uses bucket 0).
    TBuckets hashIndex;
};

}  // namespace KavV3Base
