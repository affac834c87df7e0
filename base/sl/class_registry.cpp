#include "base/sl/class_registry.h"

#include <cstring>
#include <utility>

#include "base/thread/critical_section.h"
#include "base/thread/process_singleton.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base {

TKavSLRegister::TKavSLRegister() = default;

TKavSLRegister::~TKavSLRegister() {
  // The id side points into the name side: empty it first.
  for (auto& bucket : IdTable) bucket.reset();
  for (auto& bucket : NameTable) bucket.reset();
}

TKavSLRegister* TKavSLRegister::Instance() {
  // The buckets are made lazily; one throw-away list of each node type makes
  // the node types register their pools' teardown at exit ahead of the
  // registry's own destruction, so the registry goes first.
  return TProcessSingleton<TKavSLRegister>::Get([](TKavSLRegister&) {
    { const TPooledList<TSLClassRecord> nameNodeType; }
    { const TPooledList<const TSLClassRecord*> idNodeType; }
  });
}

std::uint32_t TKavSLRegister::NameBucket(const TString& name) {
  const std::size_t length = name.Length();
  const char* text = name.CStr();
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = (sum + static_cast<unsigned char>(text[i])) % BucketCount;
  return sum;
}

const TSLClassRecord* TKavSLRegister::Register(TSLClassRecord record) {
  if (const TSLClassRecord* existing = FindByName(record.Name)) return existing;
  if (record.Id < 1) record.Id = NextId++;

  std::unique_ptr<TNameList>& names = NameTable[NameBucket(record.Name)];
  if (!names) {
    names = std::make_unique<TNameList>();
    names->SetSharedSource(&namePool);
  }
  names->PushBack(std::move(record));
  const TSLClassRecord* stored = &names->Back();

  std::unique_ptr<TIdList>& ids = IdTable[IdBucket(stored->Id)];
  if (!ids) {
    ids = std::make_unique<TIdList>();
    ids->SetSharedSource(&idPool);
  }
  ids->PushBack(stored);
  return stored;
}

const TSLClassRecord* TKavSLRegister::FindByName(const TString& name) const {
  const std::unique_ptr<TNameList>& names = NameTable[NameBucket(name)];
  if (!names) return nullptr;
  for (const TSLClassRecord& record : *names)
    if (record.Name == name) return &record;
  return nullptr;
}

const TSLClassRecord* TKavSLRegister::FindById(std::int32_t id) const {
  const std::unique_ptr<TIdList>& ids = IdTable[IdBucket(id)];
  if (!ids) return nullptr;
  for (const TSLClassRecord* record : *ids)
    if (record->Id == id) return record;
  return nullptr;
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
