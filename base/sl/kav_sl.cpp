#include "base/sl/kav_sl.h"

#include <atomic>

namespace KavV3Base {

TKavSLRoot::~TKavSLRoot() = default;

const TSLClassRecord* TKavSLRoot::GetClassRecord() { return nullptr; }
void TKavSLRoot::SavePre(TSLArchive& /*archive*/) {}
void TKavSLRoot::LoadPre(TSLArchive& /*archive*/) {}
void TKavSLRoot::Save(TSLArchive& /*archive*/) {}
void TKavSLRoot::Load(TSLArchive& /*archive*/) {}
void TKavSLRoot::SavePost(TSLArchive& /*archive*/) {}
void TKavSLRoot::LoadPost(TSLArchive& /*archive*/) {}
int TKavSLRoot::SLHook1(TSLArchive& /*archive*/) { return 0; }
int TKavSLRoot::SLHook2(TSLArchive& /*archive*/) { return 0; }
int TKavSLRoot::SLHook3(TSLArchive& /*archive*/) { return 0; }
int TKavSLRoot::SLHook4(TSLArchive& /*archive*/) { return 0; }
int TKavSLRoot::SLHook5(TSLArchive& /*archive*/) { return 0; }
int TKavSLRoot::SLHook6(TSLArchive& /*archive*/) { return 0; }
void TKavSLRoot::SLDiscardLinks() {}

const TSLClassRecord* TKavSLRoot::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TKavSLRoot", nullptr, &TKavSLRoot::NewInstance);
}

TKavSLRoot* TKavSLRoot::NewInstance() { return SLNewInstance<TKavSLRoot>(); }

const TSLClassRecord* TKavSL::GetClassRecord() { return ClassRecord(); }

int TKavSL::SkipFields(TSLArchive& /*archive*/) const { return 0; }

const TSLClassRecord* TKavSL::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TKavSL", &TKavSLRoot::ClassRecord, &TKavSL::NewInstance);
}

TKavSLRoot* TKavSL::NewInstance() { return SLNewInstance<TKavSL>(); }

}  // namespace KavV3Base
