// KavV3Base::TSLClassRecord and KavV3Base::TKavSLRegister, the run-time registry of serializable classes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/stream/framework_string.h"

namespace KavV3Base {

class TKavSLRoot;

// Creates a new, default-initialised instance of one class; null when no
// memory can be had.
using TSLFactory = TKavSLRoot* (*)();

// One registered class.
struct TSLClassRecord {
    TString Name;                          // exactly as registered; compared byte for byte
    std::int32_t Id = 0;                   // below 1: Register hands one out
    const TSLClassRecord* Base = nullptr;  // the parent's record; null for the root
    TSLFactory Factory = nullptr;          // null in an archive's class table
};

// Maps class names to records and ids to records. Past LinearLimit records
// both maps are hash tables of 257 buckets each: by the sum of the name's
// bytes modulo 257, and by the id taken as unsigned modulo 257. Each bucket
// is a ring list appended at the tail and searched from the head, so among
// equal keys the oldest record is found. A smaller registry (every archive's
// table of the classes it met is one) has no buckets yet and is searched in
// registration order, which finds the same records. Records never move and
// are never removed while the registry lives.
//
// The process-wide registry (Instance) is filled by the framework's start-up
// unit before main and only read afterwards. Every archive also embeds a
// registry of its own as the table of the classes it has met; a new registry
// allocates nothing until its first record.
//
// Concurrency: Register, FindByName and FindById take no lock. The process
// registry may be read from any thread; a class registered after other
// threads started must not race with readers (the per-class accessors
// register under the process-wide lock, which orders them among themselves
// but not against lock-free readers). An archive's registry belongs to the
// archive's one thread.
class TKavSLRegister {
public:
    static constexpr std::uint32_t BucketCount = 257;
    // Records held before the buckets are built.
    static constexpr std::size_t LinearLimit = 16;

    TKavSLRegister();
    virtual ~TKavSLRegister();
    TKavSLRegister(const TKavSLRegister&) = delete;
    TKavSLRegister& operator=(const TKavSLRegister&) = delete;

    // The process-wide registry, created on first call under the process-wide
    // lock and destroyed by an exit handler. Never null before that handler
    // has run; null afterwards. Any thread.
    static TKavSLRegister* Instance();

    // Stores a copy of record unless its name is registered already, in which
    // case the existing record is returned unchanged (the first registration
    // of a name wins). A record whose Id is below 1 gets NextId, which then
    // moves on; one that carries an id keeps it and NextId stays. Returns the
    // stored record, valid for the registry's lifetime. The record is copied
    // once, into its own allocation (a name already registered copies nothing).
    const TSLClassRecord* Register(const TSLClassRecord& record);
    // The oldest record whose name has exactly the bytes of name's text.
    const TSLClassRecord* FindByName(const TString& name) const;
    // The oldest record with that id.
    const TSLClassRecord* FindById(std::int32_t id) const;
    // The id the next record without an id will get.
    std::int32_t GetNextId() const { return NextId; }

    static std::uint32_t NameBucket(const TString& name);
    static std::uint32_t IdBucket(std::int32_t id) { return static_cast<std::uint32_t>(id) % BucketCount; }

private:
    struct TTables;  // the two bucket tables

    // The first record that matches: in the given bucket of one of the
    // tables, or among all records when there are no tables (bucket null).
    template <class TBucket, class TMatches>
    const TSLClassRecord* Find(const TBucket* bucket, TMatches matches) const;

    // Every record, in registration order; each lives in its own allocation,
    // so its address never changes.
    std::vector<std::unique_ptr<TSLClassRecord>> records;
    std::unique_ptr<TTables> tables;  // built once records outgrow LinearLimit
    std::int32_t NextId = 1;
};

// The per-class accessor pattern: returns *cache when set; otherwise, under
// the process-wide lock, obtains the parent's record through parent (null for
// the root, which registers the parent chain first), registers
// {name, 0, parent record, factory} in the process registry, publishes the
// result in *cache and returns it. Null only after the registry was destroyed
// at exit.
//
//   const TSLClassRecord* TMyClass::ClassRecord() {
//     static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
//     return SLRegisterClass(cache, "TMyClass", &TKavSL::ClassRecord, &SLNewInstance<TMyClass>);
//   }
//
// cache must be constant-initialised so that it never depends on the order of
// dynamic initialisation.
const TSLClassRecord* SLRegisterClass(std::atomic<const TSLClassRecord*>& cache, const char* name,
                                      const TSLClassRecord* (*parent)(), TSLFactory factory);

}  // namespace KavV3Base
