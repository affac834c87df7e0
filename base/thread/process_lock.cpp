// The process-wide lock: created on first use, deleted by the last exit
// handler of the framework.

#include "base/thread/process_lock.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "base/contract.h"

namespace KavV3Base {

namespace {

alignas(TCriticalSection) unsigned char processLockStorage[sizeof(TCriticalSection)];
std::atomic<TCriticalSection*> processLock{nullptr};
std::atomic<bool> processLockDeleted{false};

void DeleteProcessLock() {
    TCriticalSection* lock = processLock.exchange(nullptr, std::memory_order_acq_rel);
    processLockDeleted.store(true, std::memory_order_release);
    if (lock != nullptr) lock->~TCriticalSection();
}

TCriticalSection* CreateProcessLock() {
    // The lock cannot guard its own creation; the language's guarded
    // initialisation of a local static does.
    static TCriticalSection* const created = [] {
        auto* lock = new (processLockStorage) TCriticalSection;
        std::atexit(&DeleteProcessLock);
        return lock;
    }();
    return created;
}

}  // namespace

TCriticalSection& GetProcessLock() {
    TCriticalSection* lock = processLock.load(std::memory_order_acquire);
    if (lock != nullptr) return *lock;
    KAV_CONTRACT(!processLockDeleted.load(std::memory_order_acquire),
                 "the process-wide lock was used after its deletion at exit");
    lock = CreateProcessLock();
    processLock.store(lock, std::memory_order_release);
    return *lock;
}

}  // namespace KavV3Base
