// TProcessSingleton<T>: one lazily created object of type T per process,
// constructed on first use under the process-wide lock and destroyed by an
// exit handler.
//
// The object lives in static storage that needs no dynamic initialisation, so
// it can be asked for from any static initialiser, whatever the order of
// start-up across files. Exit handlers run in reverse order of registration:
// everything registered before the object's own handler (the process-wide
// lock, and whatever the `prepare` step of Get registers) outlives the object.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#include "base/thread/critical_section.h"
#include "base/thread/process_lock.h"

namespace KavV3Base {

template <class T>
class TProcessSingleton {
public:
    // The object, created by the first call: default-constructed, then passed
    // to prepare(T&) under the lock, before its destruction is registered at
    // exit. Null after the exit handler has run, and to a call made while the
    // object is being constructed or prepared. Any thread.
    template <class Prepare>
    static T* Get(Prepare prepare) {
        T* object = instance.load(std::memory_order_acquire);
        if (object != nullptr) return object;
        // Taking the lock the first time creates it and registers its deletion,
        // ahead of the object's: the lock goes last.
        TScopedLock lock(GetProcessLock());
        object = instance.load(std::memory_order_relaxed);
        if (object == nullptr && !constructed) {
            constructed = true;
            object = ::new (static_cast<void*>(storage)) T;
            prepare(*object);
            std::atexit(&Destroy);
            instance.store(object, std::memory_order_release);
        }
        return object;
    }

    static T* Get() {
        return Get([](T&) {});
    }

private:
    static void Destroy() {
        TScopedLock lock(GetProcessLock());
        T* object = instance.exchange(nullptr, std::memory_order_acq_rel);
        if (object != nullptr) object->~T();
    }

    static constinit inline std::atomic<T*> instance{nullptr};
    static constinit inline bool constructed = false;  // guarded by the process-wide lock
    alignas(T) static inline unsigned char storage[sizeof(T)];
};

}  // namespace KavV3Base
