// KavV3Base::TKavSLRoot and KavV3Base::TKavSL, the roots of every serializable framework class.
#pragma once

#include <new>

#include "base/sl/class_registry.h"

namespace KavV3Base {

class TSLArchive;

// The root of every object that can be written to an archive and re-created
// from one. Its virtual operations come in a fixed order that every derived
// class keeps, appending its own after the last of them:
//   destructor, GetClassRecord, SavePre, LoadPre, Save, Load, SavePost,
//   LoadPost, SLHook1 ... SLHook6, SLDiscardLinks.
// The object graph coder calls SavePre, Save and SavePost (in that order)
// after writing an object's header, and LoadPre, Load and LoadPost after
// creating the object and recording its identity. Each save phase writes
// exactly what the load phase of the same pair reads. Every default body
// does nothing and returns 0 or null.
//
// The root itself has no class record, so a bare root cannot be saved; it is
// registered as "TKavSLRoot" only so that the registry has the chain's top.
//
// Objects carry no lock: one graph is saved or loaded by one thread.
class TKavSLRoot {
public:
    TKavSLRoot() = default;
    virtual ~TKavSLRoot();

    // The record of the object's registered class; null for the bare root.
    virtual const TSLClassRecord* GetClassRecord();
    virtual void SavePre(TSLArchive& archive);
    virtual void LoadPre(TSLArchive& archive);
    virtual void Save(TSLArchive& archive);
    virtual void Load(TSLArchive& archive);
    virtual void SavePost(TSLArchive& archive);
    virtual void LoadPost(TSLArchive& archive);
    // Present in the interface for derived classes; none of them uses them.
    virtual int SLHook1(TSLArchive& archive);
    virtual int SLHook2(TSLArchive& archive);
    virtual int SLHook3(TSLArchive& archive);
    virtual int SLHook4(TSLArchive& archive);
    virtual int SLHook5(TSLArchive& archive);
    virtual int SLHook6(TSLArchive& archive);

    // Lets go of every link this object holds to other serializable objects,
    // without deleting them, so that its destructor will not reach them
    // either. An archive calls it on every object a load created before it
    // deletes them (TSLArchive::DiscardLoadedObjects, and a failed load):
    // objects loaded from an archive can refer to each other in any shape, and
    // only the archive knows the set, so it deletes each exactly once. A class
    // that owns or counts what it references (a tree's children, a checker's
    // carrier) must override it, and must leave every object outside the set
    // as it was before the load: a count it took is given back, a link it made
    // into another object is undone. The object must stay destructible after
    // any partial load.
    virtual void SLDiscardLinks();

    // Registers "TKavSLRoot" (id 1 at start-up, no base) on first call.
    static const TSLClassRecord* ClassRecord();
    // The registered factory: a new bare root, or null.
    static TKavSLRoot* NewInstance();
};

// The base of every registered serializable class. Adds nothing to the root
// but its class record ("TKavSL", base "TKavSLRoot").
//
// A derived Save (and likewise Load) first calls its parent's Save, then,
// only when SkipFields returns 0, codes its own fields with the archive's
// value coders and its references with SLSaveObject / SLLoadObject.
class TKavSL : public TKavSLRoot {
public:
    const TSLClassRecord* GetClassRecord() override;

    // Always 0: fields are always coded.
    int SkipFields(TSLArchive& archive) const;

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();
};

// A registered factory for class T: a new default-constructed T, or null when
// no memory can be had.
template <class T>
TKavSLRoot* SLNewInstance() {
    return new (std::nothrow) T();
}

}  // namespace KavV3Base
