// KavV3Base::TSLRefCarry, a serializable carrier of one reference to another serializable object.
#pragma once

#include <cstdint>

#include "base/sl/kav_sl.h"

namespace KavV3Base {

// Holds one reference to a serializable object and saves it inline, so the
// referenced object (and whatever it references) travels with the carrier.
// The carrier does not own what it references: its destructor leaves it
// alone. `count` is for the carrier's holders, which use it as their
// reference count on the carrier (the last one deletes the referenced object
// and the carrier); the carrier neither saves nor loads it.
//
// Registered as "TSLRefCarry", base "TKavSL". No lock: a carrier is used by
// one thread at a time.
class TSLRefCarry : public TKavSL {
public:
    TSLRefCarry() = default;

    const TSLClassRecord* GetClassRecord() override;
    // TKavSL's Save, then the reference through SLSaveObject.
    void Save(TSLArchive& archive) override;
    // TKavSL's Load, then the reference through SLLoadObject.
    void Load(TSLArchive& archive) override;
    // Drops the reference.
    void SLDiscardLinks() override;

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

    TKavSL* reference = nullptr;  // not owned
    std::int32_t count = 0;       // the holders' count; never saved
};

}  // namespace KavV3Base
