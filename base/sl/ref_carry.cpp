#include "base/sl/ref_carry.h"

#include <atomic>

#include "base/sl/object_graph.h"

namespace KavV3Base {

const TSLClassRecord* TSLRefCarry::GetClassRecord() { return ClassRecord(); }

void TSLRefCarry::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    if (SkipFields(archive) != 0) return;
    // A refused reference has failed the archive, and the outer SLSaveObject
    // reports it: nothing of the carrier follows.
    static_cast<void>(SLSaveObject(archive, &reference));
}

void TSLRefCarry::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    if (SkipFields(archive) != 0) return;
    // A failed load leaves the reference null and the archive failed, which
    // is all the carrier's caller needs to know.
    static_cast<void>(SLLoadObject(archive, &reference));
}

void TSLRefCarry::SLDiscardLinks() { reference = nullptr; }

const TSLClassRecord* TSLRefCarry::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TSLRefCarry", &TKavSL::ClassRecord, &TSLRefCarry::NewInstance);
}

TKavSLRoot* TSLRefCarry::NewInstance() { return SLNewInstance<TSLRefCarry>(); }

}  // namespace KavV3Base
