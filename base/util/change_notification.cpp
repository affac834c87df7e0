#include "base/util/change_notification.h"

#include <atomic>
#include <string>

#include "base/contract.h"
#include "base/sl/archive.h"
#include "base/sl/object_graph.h"

namespace KavV3Base {

// --- TChangable --------------------------------------------------------------

TChangable::~TChangable() { ForgetCheckers(); }

const TSLClassRecord* TChangable::GetClassRecord() { return ClassRecord(); }

void TChangable::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    static_cast<void>(SkipFields(archive));
}

void TChangable::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    static_cast<void>(SkipFields(archive));
}

void TChangable::ForgetCheckers() {
    for (TChangeChecker* checker : checkers) {
        checker->list = nullptr;
        checker->node = nullptr;
    }
    checkers.Clear();
}

void TChangable::SLDiscardLinks() { ForgetCheckers(); }

void TChangable::RaiseChangedB() {
    for (TChangeChecker* checker : checkers) checker->changedB = 1;
}

void TChangable::RaiseChangedA() {
    for (TChangeChecker* checker : checkers) checker->changedA = 1;
}

TSLRefCarry** TChangable::GetCarrierPlace() {
    return checkers.IsEmpty() ? nullptr : &checkers.Front()->carrier;
}

void TChangable::ClearChangedB() {
    for (TChangeChecker* checker : checkers) checker->changedB = 0;
}

void TChangable::ClearChangedA() {
    for (TChangeChecker* checker : checkers) checker->changedA = 0;
}

const TSLClassRecord* TChangable::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TChangable", &TKavSL::ClassRecord, &TChangable::NewInstance);
}

TKavSLRoot* TChangable::NewInstance() { return SLNewInstance<TChangable>(); }

// --- TChangeChecker ----------------------------------------------------------

TChangeChecker::~TChangeChecker() { Release(); }

const TSLClassRecord* TChangeChecker::GetClassRecord() { return ClassRecord(); }

const char* TChangeChecker::Refusal(const TSLRefCarry* candidate) {
    if (candidate->reference == nullptr) return nullptr;
    auto* changable = dynamic_cast<TChangable*>(candidate->reference);
    if (changable == nullptr) return "the carrier refers to an object that is not a TChangable";
    // All checkers of one changable share one carrier, whose count is what
    // keeps the changable alive; a second carrier would delete it under the
    // first one's checkers.
    TSLRefCarry** shared = changable->GetCarrierPlace();
    if (shared == nullptr || *shared == candidate) return nullptr;
    return "the carrier's changable is watched through another carrier";
}

void TChangeChecker::Hold(TSLRefCarry* candidate) {
    carrier = candidate;
    ++carrier->count;
    if (auto* changable = dynamic_cast<TChangable*>(carrier->reference)) LinkTo(changable);
}

void TChangeChecker::LinkTo(TChangable* changable) {
    if (node != nullptr) return;
    list = &changable->checkers;
    node = list->TakeNode(this);
    TChangable::TCheckerList::InsertBefore(list->Head(), node);
    changedB = 1;
    changedA = 1;
    changedC = 1;
}

void TChangeChecker::Unlink() {
    if (node != nullptr) list->ReturnNode(node);
    node = nullptr;
    list = nullptr;
}

void TChangeChecker::Release() {
    // Out of the list first: the changable may be deleted below.
    Unlink();
    pendingIdentity = 0;
    if (carrier == nullptr) return;
    TSLRefCarry* held = carrier;
    carrier = nullptr;
    if (--held->count > 0) return;
    if (held->reference != nullptr) {
        TKavSL* watched = held->reference;
        held->reference = nullptr;
        delete watched;
    }
    delete held;
}

void TChangeChecker::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    if (SkipFields(archive) != 0) return;
    // The carrier is the checker's last field: a refusal has failed the
    // archive, which the outer SLSaveObject reports.
    if (archive.ReferenceMode == TSLArchive::ReferenceInline)
        static_cast<void>(SLSaveObject(archive, &carrier));
    else
        static_cast<void>(SLSaveObjectIdentity(archive, &carrier));
}

void TChangeChecker::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    if (SkipFields(archive) != 0) return;
    Release();
    if (!archive.CanCode()) return;

    if (archive.ReferenceMode != TSLArchive::ReferenceInline) {
        std::uint32_t identity = 0;
        if (SLLoadObjectIdentity(archive, &identity)) pendingIdentity = identity;
        return;
    }

    TSLRefCarry* loaded = nullptr;
    if (!SLLoadObject(archive, &loaded) || loaded == nullptr) return;
    if (const char* refusal = Refusal(loaded)) {
        archive.Fail(TSLFailure::ObjectRefused, std::string("TChangeChecker: ") + refusal);
        return;
    }
    // Counted now, linked by LoadPost.
    carrier = loaded;
    ++carrier->count;
}

void TChangeChecker::LoadPost(TSLArchive& archive) {
    TKavSL::LoadPost(archive);
    if (archive.Failed()) return;
    if (archive.ReferenceMode == TSLArchive::ReferenceInline) {
        if (carrier != nullptr)
            if (auto* changable = dynamic_cast<TChangable*>(carrier->reference)) LinkTo(changable);
        return;
    }
    // A carrier that comes later in the archive is left to Resolve. One that
    // is refused has failed the archive: the load reports it.
    if (pendingIdentity != 0 && archive.Objects.FindObject(pendingIdentity) != nullptr)
        static_cast<void>(Resolve(archive));
}

bool TChangeChecker::Resolve(TSLArchive& archive) {
    if (pendingIdentity == 0) return true;
    TKavSLRoot* found = archive.Objects.FindObject(pendingIdentity);
    if (found == nullptr) return false;
    const std::uint32_t identity = pendingIdentity;
    pendingIdentity = 0;
    auto* resolved = dynamic_cast<TSLRefCarry*>(found);
    if (resolved == nullptr) {
        archive.Fail(TSLFailure::TypeMismatch, "TChangeChecker: identity " + std::to_string(identity) +
                                                   " names an object that is not a TSLRefCarry");
        return false;
    }
    if (const char* refusal = Refusal(resolved)) {
        archive.Fail(TSLFailure::ObjectRefused, std::string("TChangeChecker: ") + refusal);
        return false;
    }
    Hold(resolved);
    return true;
}

bool TChangeChecker::Watch(TSLRefCarry* watched) {
    KAV_CONTRACT(watched != nullptr, "TChangeChecker::Watch needs a carrier");
    KAV_CONTRACT(carrier == nullptr && pendingIdentity == 0,
                 "TChangeChecker::Watch on a checker that holds or awaits a carrier already");
    if (Refusal(watched) != nullptr) return false;
    Hold(watched);
    return true;
}

void TChangeChecker::SLDiscardLinks() {
    Unlink();
    pendingIdentity = 0;
    if (carrier == nullptr) return;
    // The count goes back, so that a carrier from an earlier load of the same
    // archive, which others still hold, keeps exactly the count it had; but
    // nothing is deleted: a carrier at 0 belongs to whoever else holds it (the
    // archive discarding it, or the owner of a top-level reference).
    --carrier->count;
    carrier = nullptr;
}

const TSLClassRecord* TChangeChecker::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TChangeChecker", &TKavSL::ClassRecord, &TChangeChecker::NewInstance);
}

TKavSLRoot* TChangeChecker::NewInstance() { return SLNewInstance<TChangeChecker>(); }

}  // namespace KavV3Base
