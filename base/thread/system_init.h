// KavV3Base::KavSystem_InitFinal, the system singleton, and GetSystemRecord.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace KavV3Base {

// The system record. Nothing reads its content; what matters is that its
// first request brings the thread slot table into existence.
struct TSystemRecord {
    std::int32_t value = 0;
    std::vector<std::int32_t> items;
};

// The system singleton: a static object that points at the system record
// once GetSystemRecord has run.
class KavSystem_InitFinal {
public:
    KavSystem_InitFinal() = default;
    virtual ~KavSystem_InitFinal();
    KavSystem_InitFinal(const KavSystem_InitFinal&) = delete;
    KavSystem_InitFinal& operator=(const KavSystem_InitFinal&) = delete;

    std::atomic<TSystemRecord*> record{nullptr};  // null until the first GetSystemRecord
};

// The system record. The first call constructs the record and the singleton
// (registering their release as exit handlers), then takes and at once
// releases a thread slot on the calling thread, which creates the slot table
// as [0, -1] and leaves the thread at slot 0. Later calls return the record
// without a lock. Null only after the exit handlers have run. Any thread.
TSystemRecord* GetSystemRecord();

}  // namespace KavV3Base
