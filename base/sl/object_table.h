// KavV3Base::TSLObjectTable, an archive's two-way table of object identities and objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KavV3Base {

class TKavSLRoot;

// Pairs of (identity, object) of one archive, hashed both ways into 1027
// buckets: by identity (identity modulo 1027) and by object address. While
// saving it holds every object written so far with the identity it was
// given; while loading, every object created so far under the identity the
// archive gave it. Pairs are appended at the tail of their buckets and
// lookups scan from the head, so among equal keys the oldest pair wins.
//
// Identities are 32-bit numbers handed out by NewIdentity, counting from 1,
// so two objects of one archive never share one (an address cut to 32 bits
// could). Identity 0 stands for "no object" and is never handed out.
//
// Not thread-safe: it belongs to one archive, driven by one thread.
class TSLObjectTable {
public:
  static constexpr std::uint32_t BucketCount = 1027;

  TSLObjectTable() = default;
  TSLObjectTable(const TSLObjectTable&) = delete;
  TSLObjectTable& operator=(const TSLObjectTable&) = delete;

  // Adds the pair to both sides.
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
  struct TEntry {
    std::uint32_t identity;
    TKavSLRoot* object;
  };
  using TBuckets = std::vector<std::vector<TEntry>>;

  static std::size_t IdentityBucket(std::uint32_t identity) { return identity % BucketCount; }
  static std::size_t ObjectBucket(const TKavSLRoot* object);

  // Both sides get their 1027 buckets on the first insertion.
  TBuckets byIdentity;
  TBuckets byObject;
  std::size_t count = 0;
  std::uint32_t nextIdentity = 1;
};

}  // namespace KavV3Base
