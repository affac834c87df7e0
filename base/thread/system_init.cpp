// The system singleton and the first creation of the thread slot table.

#include "base/thread/system_init.h"

#include <cstdlib>
#include <new>

#include "base/thread/thread_slots.h"

namespace KavV3Base {

KavSystem_InitFinal::~KavSystem_InitFinal() = default;

namespace {

alignas(TSystemRecord) unsigned char recordStorage[sizeof(TSystemRecord)];
alignas(KavSystem_InitFinal) unsigned char singletonStorage[sizeof(KavSystem_InitFinal)];

std::atomic<KavSystem_InitFinal*> singleton{nullptr};
// Guard bits, written under the process-wide lock.
TSystemRecord* constructedRecord = nullptr;
bool singletonConstructed = false;

void ReleaseSystemRecord() {
    TScopedLock lock(GetProcessLock());
    if (constructedRecord != nullptr) constructedRecord->~TSystemRecord();
    constructedRecord = nullptr;
}

void DestroySingleton() {
    TScopedLock lock(GetProcessLock());
    KavSystem_InitFinal* s = singleton.exchange(nullptr, std::memory_order_acq_rel);
    if (s != nullptr) s->~KavSystem_InitFinal();
}

}  // namespace

TSystemRecord* GetSystemRecord() {
    if (KavSystem_InitFinal* s = singleton.load(std::memory_order_acquire)) {
        if (TSystemRecord* record = s->record.load(std::memory_order_acquire)) return record;
    }

    // The first call happens at start-up, before any other thread exists; the
    // lock only keeps a first call from elsewhere safe, and it makes the
    // process-wide lock exist before the exit handlers below are registered,
    // so that it is deleted after them.
    TScopedLock lock(GetProcessLock());
    if (!singletonConstructed) {
        singletonConstructed = true;
        constructedRecord = new (recordStorage) TSystemRecord;
        std::atexit(&ReleaseSystemRecord);
        singleton.store(new (singletonStorage) KavSystem_InitFinal, std::memory_order_release);
        std::atexit(&DestroySingleton);
    }
    KavSystem_InitFinal* s = singleton.load(std::memory_order_acquire);
    if (s == nullptr) return nullptr;  // after exit
    TSystemRecord* record = s->record.load(std::memory_order_acquire);
    if (record == nullptr) {
        record = constructedRecord;
        s->record.store(record, std::memory_order_release);
        // Its own call of GetSystemRecord returns at once now; it creates the
        // slot table as [0], takes slot 1 and frees it again: [0, -1].
        const TOnThreadCreate firstSlot;
    }
    return record;
}

}  // namespace KavV3Base
