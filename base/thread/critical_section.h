// KavV3Base::TCriticalSection, the framework's recursive lock, and
// TScopedLock, the guard through which every section is taken.
#pragma once

#include "base/thread/platform.h"

namespace KavV3Base {

// A recursive lock, embedded by value in its owner. The thread that holds it
// may enter it again and must leave it as often as it entered. Constructing
// it initialises the lock; destroying it (unheld) deletes it.
class TCriticalSection {
public:
    TCriticalSection() = default;
    ~TCriticalSection() = default;
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    // Blocks until the calling thread holds the section.
    void Enter();
    // Gives back one Enter of the calling thread, which must hold the section.
    void Leave();

private:
    Platform::TRecursiveMutex section;
};

// Enters a section when constructed and leaves it when destroyed, also when
// an exception leaves the scope.
class TScopedLock {
public:
    explicit TScopedLock(TCriticalSection& section);
    explicit TScopedLock(TCriticalSection* section);
    ~TScopedLock();
    TScopedLock(const TScopedLock&) = delete;
    TScopedLock& operator=(const TScopedLock&) = delete;

private:
    TCriticalSection* section;
};

}  // namespace KavV3Base
