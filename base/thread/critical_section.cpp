// The framework's recursive lock and its scope guard.

#include "base/thread/critical_section.h"

#include "base/contract.h"

namespace KavV3Base {

void TCriticalSection::Enter() { section.Lock(); }

void TCriticalSection::Leave() { section.Unlock(); }

TScopedLock::TScopedLock(TCriticalSection& s) : section(&s) { section->Enter(); }

TScopedLock::TScopedLock(TCriticalSection* s) : section(s) {
    KAV_CONTRACT(section != nullptr, "TScopedLock needs a critical section");
    section->Enter();
}

TScopedLock::~TScopedLock() { section->Leave(); }

}  // namespace KavV3Base
