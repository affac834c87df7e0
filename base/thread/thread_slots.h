// The thread slot registry: the thread slot key and table, and
// TOnThreadCreate, which holds a slot for the life of a thread. The table is
// read and changed under the process-wide lock (process_lock.h).
//
// A thread slot is a small integer, unique among the live threads: 0 for the
// main thread (and any thread the framework did not start), and the lowest
// free index from 1 up for each thread started through TThread, which gives
// it back when it ends. Per-thread state can thus live in plain arrays
// indexed by slot, without locks.
#pragma once

#include <cstdint>
#include <vector>

#include "base/thread/critical_section.h"
#include "base/thread/process_lock.h"

namespace KavV3Base {

// Allocates the thread slot key and registers its release as an exit handler,
// once; later calls only return the key. The start-up unit calls it first,
// and every use of the key calls it too, so the key exists before the first
// slot is taken whatever the order of start-up steps. Any thread.
std::uint32_t InitThreadSlotKey();

// A function told about a thread slot, registered with AddThreadCallback.
using TThreadCallback = void (*)(std::int32_t slot);

// The slot table. Read and changed only under GetProcessLock().
struct TThreadSlotTable {
    // Registered by AddThreadCallback, in registration order.
    std::vector<TThreadCallback> callbacks;
    // Entry i is i while slot i is taken, -1 while it is free. Created as
    // [0]: slot 0 belongs to the main thread. It only grows.
    std::vector<std::int32_t> slots;
};

// The slot table, created on first use (with its release registered as an
// exit handler). Null only after that handler has run.
TThreadSlotTable* GetThreadSlotTable();

// Appends callback to the table's callbacks, under the process-wide lock.
// Taking a slot does not run the callbacks.
void AddThreadCallback(TThreadCallback callback);

// The calling thread's slot: 0 for the main thread and any thread that holds
// no slot. No lock.
std::int32_t GetCurrentThreadSlot();

// Holds a thread slot for the calling thread for as long as it lives: the
// constructor takes the lowest free slot and stores it as the thread's slot,
// the destructor releases it and the thread reads slot 0 again. It must be
// destroyed on the thread that constructed it, and a thread holds at most one.
class TOnThreadCreate {
public:
    TOnThreadCreate();
    virtual ~TOnThreadCreate();
    TOnThreadCreate(const TOnThreadCreate&) = delete;
    TOnThreadCreate& operator=(const TOnThreadCreate&) = delete;
};

}  // namespace KavV3Base
