// KavV3Base::TFileSearch, a serializable list of path prefixes that locates a file by name.
#pragma once

#include "base/sl/kav_sl.h"
#include "base/stream/framework_string.h"
#include "base/thread/pooled_list.h"

namespace KavV3Base {

// Locates a file by trying the name itself, then each prefix followed by the
// name, and reporting the first candidate that opens for reading. A prefix is
// joined to a name by plain concatenation, so a prefix meant as a directory
// ends with its own separator. The prefix added last is tried first; the same
// prefix may appear more than once.
//
// Saved as the prefix count (SLWriteSize) and each prefix (SLWriteString),
// front to back; loading replaces the prefixes and keeps their order.
//
// Registered as "TFileSearch", base "TKavSL".
//
// No lock: used by one thread at a time.
class TFileSearch : public TKavSL {
public:
    using TPathList = TPooledList<TString>;

    TFileSearch() = default;
    TFileSearch(const TFileSearch&) = delete;
    TFileSearch& operator=(const TFileSearch&) = delete;

    const TSLClassRecord* GetClassRecord() override;
    void Save(TSLArchive& archive) override;
    // Empties the prefixes, then appends those read. Reading stops at the
    // first value that is not there (the archive has failed), keeping the
    // prefixes read before it.
    void Load(TSLArchive& archive) override;

    // Inserts a copy of prefix ahead of all others.
    virtual void AddPath(const TString& prefix);
    // Removes every prefix whose text equals prefix's; the rest keep their
    // order.
    virtual void RemovePath(const TString& prefix);
    // The prefix list itself, front first, for reading or changing.
    virtual TPathList& GetPaths();
    // Tries name, then each prefix followed by name, opening each candidate
    // for reading (and closing it again at once). On the first that opens,
    // stores the candidate in *found when found is not null and returns 1.
    // Returns 0, leaving *found alone, when none opens, and at once, probing
    // nothing, for an empty name.
    [[nodiscard]] virtual int Find(const TString& name, TString* found);

    static const TSLClassRecord* ClassRecord();
    static TKavSLRoot* NewInstance();

private:
    TPathList paths;  // owned; front is searched first
};

}  // namespace KavV3Base
