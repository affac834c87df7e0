// KavV3Base::TChangable and KavV3Base::TChangeChecker, an object that others watch and its watchers.
#pragma once

#include <cstdint>

#include "base/sl/kav_sl.h"
#include "base/sl/ref_carry.h"
#include "base/thread/pooled_list.h"

namespace KavV3Base {

class TChangeChecker;

// An object that checkers watch. It keeps the checkers linked to it, in the
// order they were linked, and raises or clears change flags in all of them at
// once. It does not own its checkers: its list holds plain pointers.
//
// Checkers share a changable through one TSLRefCarry whose reference is the
// changable and whose `count` is the number of checkers holding the carrier;
// the last checker to let go deletes the changable and then the carrier.
//
// Registered as "TChangable", base "TKavSL"; saves and loads nothing of its
// own (checkers link themselves to it when they are loaded).
//
// No lock: a changable and its checkers are used by one thread at a time.
class TChangable : public TKavSL {
public:
    using TCheckerList = TPooledList<TChangeChecker*>;

    TChangable() = default;
    // Frees the list. Checkers still linked, which the counting rules out, are
    // told that they are unlinked instead of being left on freed nodes.
    ~TChangable() override;
    TChangable(const TChangable&) = delete;
    TChangable& operator=(const TChangable&) = delete;

    const TSLClassRecord* GetClassRecord() override;
    void Save(TSLArchive& archive) override;
    void Load(TSLArchive& archive) override;
    // Forgets every checker: each is left unlinked, none is deleted.
    void SLDiscardLinks() override;

    // changedB = 1 in every linked checker, first to last.
    virtual void RaiseChangedB();
    // changedA = 1 in every linked checker.
    virtual void RaiseChangedA();
    // The place where the first linked checker keeps the carrier that all
    // checkers of this changable share; null when no checker is linked.
    virtual TSLRefCarry** GetCarrierPlace();
    // changedB = 0 in every linked checker.
    virtual void ClearChangedB();
    // changedA = 0 in every linked checker.
    virtual void ClearChangedA();

    const TCheckerList& GetCheckers() const { return checkers; }

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    friend class TChangeChecker;

    void ForgetCheckers();

    TCheckerList checkers;  // own spare nodes
};

// A watcher of one TChangable, reached through a shared TSLRefCarry on which
// the checker holds one count. While linked, the checker sits in the
// changable's list and receives its flags; the flags start raised and are
// raised again whenever the checker is linked.
//
// Saved as its carrier reference. With the archive's ReferenceMode
// ReferenceInline the carrier travels inline (SLSaveObject), and with it the
// changable; Load takes a count on the loaded carrier and LoadPost links the
// checker. A carrier that is not a TSLRefCarry (TypeMismatch), whose
// reference is neither null nor a TChangable, or whose changable is already
// watched through another carrier (ObjectRefused) is refused: the archive
// fails and the checker holds nothing.
//
// With any other ReferenceMode only the carrier's identity travels (the
// carrier itself must be saved into the same archive, ahead of the
// checkers). Load keeps the identity as pending; it is resolved through the
// Objects table of the archive the carrier was loaded in: by LoadPost when
// the carrier is already there, otherwise by Resolve, called once the whole
// archive is loaded. Only a resolved checker holds the carrier, counts it
// and is linked; one whose identity never resolves stays unlinked with a
// null carrier and is destroyed without touching anything.
//
// Destruction unlinks the checker from the changable, then gives its count
// back; the last count deletes the changable and the carrier.
//
// Registered as "TChangeChecker", base "TKavSL".
//
// No lock: used on one thread at a time, together with its changable.
class TChangeChecker : public TKavSL {
public:
    TChangeChecker() = default;
    ~TChangeChecker() override;
    TChangeChecker(const TChangeChecker&) = delete;
    TChangeChecker& operator=(const TChangeChecker&) = delete;

    const TSLClassRecord* GetClassRecord() override;
    void Save(TSLArchive& archive) override;
    // Lets go of whatever the checker held (as its destructor does), then reads
    // the carrier reference as described above.
    void Load(TSLArchive& archive) override;
    void LoadPost(TSLArchive& archive) override;
    // Leaves the changable's list and drops the carrier, giving its count back
    // but deleting nothing even when the count reaches 0; a pending identity is
    // dropped too.
    void SLDiscardLinks() override;

    // Resolves a pending identity through archive.Objects: takes a count on the
    // carrier found and links the checker to its changable. True when nothing
    // is left pending. False while the identity is not in the table (the
    // checker stays pending and may be resolved later), and when the object
    // found is refused (see above; the archive fails and nothing stays
    // pending).
    [[nodiscard]] bool Resolve(TSLArchive& archive);

    // Starts watching through carrier: takes a count on it and links to its
    // changable, if it has one. Refused (false, nothing changes) for a carrier
    // that the loading rules above refuse. watched must not be null, and the
    // checker must neither hold nor await a carrier.
    [[nodiscard]] bool Watch(TSLRefCarry* watched);

    TSLRefCarry* GetCarrier() const { return carrier; }
    bool IsLinked() const { return node != nullptr; }
    // The identity awaiting Resolve; 0 when none.
    std::uint32_t GetPendingIdentity() const { return pendingIdentity; }

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    friend class TChangable;
    using TNode = TChangable::TCheckerList::TNode;

    // Why candidate may not be held, or null when it may: when its reference
    // is null, or a changable that is unwatched or watched through this very
    // carrier.
    static const char* Refusal(const TSLRefCarry* candidate);
    // Counts and holds candidate, and links to its changable.
    void Hold(TSLRefCarry* candidate);
    void LinkTo(TChangable* changable);
    void Unlink();
    // Unlinks, then gives the count back (deleting the changable and the
    // carrier with the last count).
    void Release();

    TChangable::TCheckerList* list = nullptr;  // the list holding `node`; null while unlinked
    TNode* node = nullptr;                     // this checker's node in `list`

public:
    // Change flags, raised and cleared by the changable; 1 on creation and
    // whenever the checker is linked. No operation of the changable touches
    // changedC.
    std::int32_t changedA = 1;
    std::int32_t changedB = 1;
    std::int32_t changedC = 1;

private:
    TSLRefCarry* carrier = nullptr;     // shared, one count held
    std::uint32_t pendingIdentity = 0;  // identity read but not yet resolved
};

}  // namespace KavV3Base
