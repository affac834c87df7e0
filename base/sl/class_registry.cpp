#include "base/sl/class_registry.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "base/thread/critical_section.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base {

namespace {

// The process registry lives in static storage that needs no dynamic
// initialisation: it is constructed by the first Instance() call, wherever
// that happens during start-up, and destroyed by an exit handler.
constinit std::atomic<TKavSLRegister*> cachedRegistry{nullptr};
constinit bool registryConstructed = false;  // guarded by the process-wide lock
alignas(TKavSLRegister) unsigned char registryStorage[sizeof(TKavSLRegister)];

void DestroyRegistry() {
  TKavSLRegister* registry = cachedRegistry.exchange(nullptr, std::memory_order_acq_rel);
  if (registry != nullptr) registry->~TKavSLRegister();
}

}  // namespace

TKavSLRegister::TKavSLRegister() = default;

TKavSLRegister::~TKavSLRegister() {
  // The id side points into the name side: empty it first.
  for (auto& bucket : IdTable) bucket.reset();
  for (auto& bucket : NameTable) bucket.reset();
}

TKavSLRegister* TKavSLRegister::Instance() {
  TKavSLRegister* registry = cachedRegistry.load(std::memory_order_acquire);
  if (registry != nullptr) return registry;
  // Taking the lock creates it on its first use and registers its deletion
  // at exit; constructing the registry's lists registers the node pools'
  // teardown; the registry's own destruction is registered last. Exit
  // handlers run in reverse, so the registry goes first and the lock last.
  TScopedLock lock(GetProcessLock());
  registry = cachedRegistry.load(std::memory_order_relaxed);
  if (registry == nullptr && !registryConstructed) {
    registryConstructed = true;
    registry = ::new (static_cast<void*>(registryStorage)) TKavSLRegister;
    // The buckets are made lazily; one throw-away list of each node type
    // makes the node types register their pools' teardown now, ahead of
    // the registry's own exit handler.
    { const TPooledList<TSLClassRecord> nameNodeType; }
    { const TPooledList<const TSLClassRecord*> idNodeType; }
    std::atexit(&DestroyRegistry);
    cachedRegistry.store(registry, std::memory_order_release);
  }
  return registry;
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
