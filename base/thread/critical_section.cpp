// The framework's recursive lock and its scope guard.

#include "base/thread/critical_section.h"

#include <cassert>

namespace KavV3Base {

void TCriticalSection::Enter() { section.Lock(); }

void TCriticalSection::Leave() { section.Unlock(); }

TScopedLock::TScopedLock(TCriticalSection& s) : section(&s) { section->Enter(); }

TScopedLock::TScopedLock(TCriticalSection* s) : section(s) {
    assert(section != nullptr && "TScopedLock needs a critical section");
    section->Enter();
}

TScopedLock::~TScopedLock() { section->Leave(); }

}  // namespace KavV3Base
