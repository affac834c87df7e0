#include "base/sl/object_graph.h"

#include <utility>
#include <vector>

namespace KavV3Base {

// The parts of the object graph coder that need the archive's bookkeeping:
// the nesting depth and the list of objects its loads created.
class TSLGraphCoder {
public:
    static bool Save(TSLArchive& archive, TKavSLRoot* obj);
    static bool Load(TSLArchive& archive, void* place, TSLStore store);

private:
    static void Decode(TSLArchive& archive, void* place, TSLStore store);

    // Counts one level of nesting for the life of a scope.
    class TNesting {
    public:
        explicit TNesting(int& level) : depth(level) { ++depth; }
        ~TNesting() { --depth; }
        TNesting(const TNesting&) = delete;
        TNesting& operator=(const TNesting&) = delete;

    private:
        int& depth;
    };
};

namespace {

void WriteTag(TSLArchive& archive, std::int32_t tag) { SLWriteInt(archive, &tag); }

}  // namespace

bool TSLGraphCoder::Save(TSLArchive& archive, TKavSLRoot* obj) {
    if (archive.Failed()) return false;
    if (obj == nullptr) {
        WriteTag(archive, SLRefTag::NullRef);
        return !archive.Failed();
    }
    std::uint32_t identity = archive.Objects.FindIdentity(obj);
    if (identity != 0) {
        WriteTag(archive, SLRefTag::BackRef);
        SLWriteSize(archive, &identity);
        return !archive.Failed();
    }

    // No class name exists for an object without a record; a depth beyond the
    // limit could not be loaded back.
    const TSLClassRecord* record = obj->GetClassRecord();
    if (record == nullptr || record->Id < 1 || archive.depth >= archive.maxDepth) {
        archive.Fail();
        return false;
    }
    identity = archive.Objects.NewIdentity();
    if (identity == 0) {
        archive.Fail();
        return false;
    }
    archive.Objects.Insert(identity, obj);

    if (const TSLClassRecord* known = archive.Classes.FindById(record->Id)) {
        WriteTag(archive, SLRefTag::KnownClassRef);
        SLWriteInt(archive, &known->Id);
    } else {
        WriteTag(archive, SLRefTag::NewClassRef);
        SLWriteString(archive, &record->Name);
        SLWriteInt(archive, &record->Id);
        TSLClassRecord met;
        met.Name = record->Name;
        met.Id = record->Id;
        met.Base = record->Base;
        archive.Classes.Register(std::move(met));
    }
    SLWriteSize(archive, &identity);

    const TNesting nesting(archive.depth);
    obj->SavePre(archive);
    if (!archive.Failed()) obj->Save(archive);
    if (!archive.Failed()) obj->SavePost(archive);
    return !archive.Failed();
}

bool TSLGraphCoder::Load(TSLArchive& archive, void* place, TSLStore store) {
    if (archive.Failed()) {
        store(place, nullptr);
        return false;
    }
    const std::size_t mark = archive.loaded.size();
    const bool outermost = archive.depth == 0;
    try {
        Decode(archive, place, store);
    } catch (...) {
        // An allocation failure inside a body: free what this load made.
        store(place, nullptr);
        if (outermost) archive.DiscardLoadedFrom(mark);
        throw;
    }
    if (!archive.Failed()) return true;
    store(place, nullptr);
    // Inner loads leave their objects to the outermost one, whose objects
    // still point at them.
    if (outermost) archive.DiscardLoadedFrom(mark);
    return false;
}

void TSLGraphCoder::Decode(TSLArchive& archive, void* place, TSLStore store) {
    std::int32_t tag = 0;
    SLReadInt(archive, &tag);
    if (archive.Failed()) return;

    TString name;                        // read from a NewClassRef record
    const TString* className = nullptr;  // the name the record stands for
    std::uint32_t identity = 0;
    switch (tag) {
        case SLRefTag::NullRef:
            store(place, nullptr);
            return;
        case SLRefTag::BackRef: {
            SLReadSize(archive, &identity);
            if (archive.Failed()) return;
            TKavSLRoot* const obj = archive.Objects.FindObject(identity);
            if (obj == nullptr || !store(place, obj)) archive.Fail();
            return;
        }
        case SLRefTag::KnownClassRef: {
            std::int32_t classId = 0;
            SLReadInt(archive, &classId);
            if (archive.Failed()) return;
            const TSLClassRecord* met = archive.Classes.FindById(classId);
            if (met == nullptr) {
                archive.Fail();
                return;
            }
            // Records of the class table never move: the name is used where it is.
            className = &met->Name;
            SLReadSize(archive, &identity);
            break;
        }
        case SLRefTag::NewClassRef: {
            std::int32_t classId = 0;
            SLReadString(archive, &name);
            SLReadInt(archive, &classId);
            SLReadSize(archive, &identity);
            if (archive.Failed()) return;
            if (classId < 1) {
                archive.Fail();
                return;
            }
            TSLClassRecord met;
            met.Name = name;
            met.Id = classId;
            className = &archive.Classes.Register(std::move(met))->Name;
            break;
        }
        default:
            archive.Fail();
            return;
    }
    if (archive.Failed()) return;

    // Only new objects nest deeper: null and back references end the descent.
    const TKavSLRegister* registry = TKavSLRegister::Instance();
    const TSLClassRecord* record = registry != nullptr ? registry->FindByName(*className) : nullptr;
    if (record == nullptr || record->Factory == nullptr || archive.Objects.FindObject(identity) != nullptr ||
        archive.depth >= archive.maxDepth) {
        archive.Fail();
        return;
    }
    // Room for the new object before it exists, so that recording it cannot
    // throw. The list doubles: growing it by one each time would copy it
    // once per object.
    std::vector<TKavSLRoot*>& loaded = archive.loaded;
    if (loaded.size() == loaded.capacity()) loaded.reserve(loaded.empty() ? 16 : 2 * loaded.capacity());
    TKavSLRoot* const obj = record->Factory();
    if (obj == nullptr) {
        archive.Fail();
        return;
    }
    archive.loaded.push_back(obj);
    if (!store(place, obj)) {
        archive.Fail();
        return;
    }
    archive.Objects.Insert(identity, obj);

    const TNesting nesting(archive.depth);
    obj->LoadPre(archive);
    if (!archive.Failed()) obj->Load(archive);
    if (!archive.Failed()) obj->LoadPost(archive);
}

bool SLSaveObject(TSLArchive& archive, TKavSLRoot* const* ref) { return TSLGraphCoder::Save(archive, *ref); }

bool SLLoadObjectInto(TSLArchive& archive, void* place, TSLStore store) {
    return TSLGraphCoder::Load(archive, place, store);
}

bool SLLoadObject(TSLArchive& archive, TKavSLRoot** ref) {
    return TSLGraphCoder::Load(archive, ref, &SLStoreAs<TKavSLRoot>);
}

void SLSaveObjectIdentity(TSLArchive& archive, TKavSLRoot* const* ref) {
    if (archive.Failed()) return;
    std::uint32_t identity = 0;
    if (*ref != nullptr) {
        identity = archive.Objects.FindIdentity(*ref);
        if (identity == 0) {
            identity = archive.Objects.NewIdentity();
            if (identity == 0) {
                archive.Fail();
                return;
            }
            archive.Objects.Insert(identity, *ref);
        }
    }
    SLWriteSize(archive, &identity);
}

bool SLLoadObjectIdentity(TSLArchive& archive, std::uint32_t* identity) {
    SLReadSize(archive, identity);
    return !archive.Failed();
}

}  // namespace KavV3Base
