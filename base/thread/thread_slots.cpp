// The thread slot key and table, and slot taking.

#include "base/thread/thread_slots.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "base/contract.h"
#include "base/thread/platform.h"
#include "base/thread/process_lock.h"
#include "base/thread/process_singleton.h"
#include "base/thread/system_init.h"

namespace KavV3Base {

// --- Thread slot key -------------------------------------------------------

namespace {

std::uint32_t slotKeyForRelease = Platform::kTlsInvalidKey;

void ReleaseThreadSlotKey() { Platform::TlsKeyFree(slotKeyForRelease); }

}  // namespace

std::uint32_t InitThreadSlotKey() {
    static const std::uint32_t key = [] {
        const std::uint32_t k = Platform::TlsKeyAlloc();
        KAV_CONTRACT(k != Platform::kTlsInvalidKey, "no thread-local key left for the thread slots");
        slotKeyForRelease = k;
        std::atexit(&ReleaseThreadSlotKey);
        return k;
    }();
    return key;
}

std::int32_t GetCurrentThreadSlot() {
    return static_cast<std::int32_t>(Platform::TlsKeyGet(InitThreadSlotKey()));
}

// --- Thread slot table -----------------------------------------------------

TThreadSlotTable* GetThreadSlotTable() {
    return TProcessSingleton<TThreadSlotTable>::Get(
        [](TThreadSlotTable& table) { table.slots.push_back(0); });
}

void AddThreadCallback(TThreadCallback callback) {
    KAV_CONTRACT(callback != nullptr, "AddThreadCallback needs a function");
    TScopedLock lock(GetProcessLock());
    TThreadSlotTable* table = GetThreadSlotTable();
    KAV_CONTRACT(table != nullptr, "thread callback registered after the slot table was released");
    table->callbacks.push_back(callback);
}

// --- Taking and releasing slots --------------------------------------------

TOnThreadCreate::TOnThreadCreate() {
    GetSystemRecord();
    const std::uint32_t key = InitThreadSlotKey();
    TScopedLock lock(GetProcessLock());
    TThreadSlotTable* table = GetThreadSlotTable();
    KAV_CONTRACT(table != nullptr, "thread slot taken after the slot table was released at exit");
    KAV_CONTRACT(Platform::TlsKeyGet(key) == 0, "a thread holds at most one thread slot");

    std::vector<std::int32_t>& slots = table->slots;
    const auto count = static_cast<std::int32_t>(slots.size());
    std::int32_t slot = count;
    for (std::int32_t i = 0; i < count; ++i) {
        if (slots[static_cast<std::size_t>(i)] == -1) {
            slot = i;
            break;
        }
    }
    if (slot == count) {
        slots.push_back(slot);
    } else {
        slots[static_cast<std::size_t>(slot)] = slot;
    }
    Platform::TlsKeySet(key, static_cast<std::uintptr_t>(slot));
}

TOnThreadCreate::~TOnThreadCreate() {
    const std::uint32_t key = InitThreadSlotKey();
    TScopedLock lock(GetProcessLock());
    TThreadSlotTable* table = GetThreadSlotTable();
    const auto slot = static_cast<std::size_t>(Platform::TlsKeyGet(key));
    KAV_CONTRACT(table != nullptr && slot != 0 && slot < table->slots.size() &&
                     table->slots[slot] == static_cast<std::int32_t>(slot),
                 "TOnThreadCreate released a slot its thread does not hold");
    if (table != nullptr && slot != 0 && slot < table->slots.size()) table->slots[slot] = -1;
    Platform::TlsKeySet(key, 0);
}

}  // namespace KavV3Base
