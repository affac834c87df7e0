#include "base/sl/object_table.h"

#include <algorithm>
#include <cstdint>

namespace KavV3Base {

std::size_t TSLObjectTable::ObjectBucket(const TKavSLRoot* object) {
  return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(object) % BucketCount);
}

void TSLObjectTable::Insert(std::uint32_t identity, TKavSLRoot* object) {
  if (byIdentity.empty()) {
    byIdentity.resize(BucketCount);
    byObject.resize(BucketCount);
  }
  byIdentity[IdentityBucket(identity)].push_back({identity, object});
  byObject[ObjectBucket(object)].push_back({identity, object});
  ++count;
}

TKavSLRoot* TSLObjectTable::FindObject(std::uint32_t identity) const {
  if (byIdentity.empty()) return nullptr;
  for (const TEntry& entry : byIdentity[IdentityBucket(identity)])
    if (entry.identity == identity) return entry.object;
  return nullptr;
}

std::uint32_t TSLObjectTable::FindIdentity(const TKavSLRoot* object) const {
  if (byObject.empty()) return 0;
  for (const TEntry& entry : byObject[ObjectBucket(object)])
    if (entry.object == object) return entry.identity;
  return 0;
}

void TSLObjectTable::Remove(const TKavSLRoot* object) {
  if (byObject.empty()) return;
  std::vector<TEntry>& objectSide = byObject[ObjectBucket(object)];
  for (const TEntry& entry : objectSide) {
    if (entry.object != object) continue;
    std::vector<TEntry>& identitySide = byIdentity[IdentityBucket(entry.identity)];
    std::erase_if(identitySide, [&](const TEntry& e) { return e.object == object; });
  }
  const std::size_t removed = std::erase_if(objectSide, [&](const TEntry& e) { return e.object == object; });
  count -= removed;
}

std::uint32_t TSLObjectTable::NewIdentity() {
  if (nextIdentity == 0) return 0;
  return nextIdentity++;
}

}  // namespace KavV3Base
