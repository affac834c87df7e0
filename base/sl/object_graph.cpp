#include "base/sl/object_graph.h"

#include <string>
#include <utility>
#include <vector>

#include "base/contract.h"

namespace KavV3Base {

// The parts of the object graph coder that need the archive's bookkeeping:
// the direction it is used in, the nesting of objects and the list of
// objects its loads created.
class TSLGraphCoder {
public:
    static bool Save(TSLArchive& archive, TKavSLRoot* obj);
    static bool Load(TSLArchive& archive, void* place, TSLStore store);
    static bool SaveIdentity(TSLArchive& archive, TKavSLRoot* obj);
    static bool LoadIdentity(TSLArchive& archive, std::uint32_t* identity);

private:
    static void Decode(TSLArchive& archive, void* place, TSLStore store);
    static void Use(TSLArchive& archive, TSLArchive::TDirection direction);
    static bool TooDeep(const TSLArchive& archive) {
        return archive.nesting.size() >= static_cast<std::size_t>(archive.maxDepth);
    }
    static std::string DepthMessage(const TSLArchive& archive) {
        return "objects nest deeper than the archive's limit of " + std::to_string(archive.maxDepth) +
               " (TSLArchive::SetMaxDepth)";
    }

    // The object whose body is being coded, one level deeper, for the life
    // of a scope.
    class TNesting {
    public:
        TNesting(TSLArchive& archive, const TString& className) : nesting(archive.nesting) {
            nesting.push_back(&className);
        }
        ~TNesting() { nesting.pop_back(); }
        TNesting(const TNesting&) = delete;
        TNesting& operator=(const TNesting&) = delete;

    private:
        std::vector<const TString*>& nesting;
    };
};

namespace {

void WriteTag(TSLArchive& archive, std::int32_t tag) { SLWriteInt(archive, &tag); }

// A text from an archive, quoted for a failure message: at most 64 bytes,
// and bytes that are not printable ASCII as \xNN.
std::string Quoted(const TString& text) {
    constexpr std::size_t kShown = 64;
    const char* chars = text.CStr();
    const std::size_t length = text.Length();
    std::string quoted = "\"";
    for (std::size_t i = 0; i < length && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(chars[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            quoted.push_back(static_cast<char>(c));
        } else {
            static const char kHex[] = "0123456789abcdef";
            quoted += "\\x";
            quoted.push_back(kHex[c >> 4]);
            quoted.push_back(kHex[c & 15]);
        }
    }
    if (length > kShown) quoted += "...";
    return quoted + "\"";
}

// What a failure message calls an object's class.
std::string ClassOf(TKavSLRoot* obj) {
    const TSLClassRecord* record = obj->GetClassRecord();
    return record != nullptr ? Quoted(record->Name) : "bare TKavSLRoot";
}

}  // namespace

void TSLGraphCoder::Use(TSLArchive& archive, TSLArchive::TDirection direction) {
    KAV_CONTRACT(archive.direction == TSLArchive::TDirection::Unused || archive.direction == direction,
                 "a TSLArchive serves one save or one load: it was used to %s and now to %s",
                 archive.direction == TSLArchive::TDirection::Saving ? "save" : "load",
                 direction == TSLArchive::TDirection::Saving ? "save" : "load");
    archive.direction = direction;
}

bool TSLGraphCoder::Save(TSLArchive& archive, TKavSLRoot* obj) {
    Use(archive, TSLArchive::TDirection::Saving);
    if (archive.Failed()) return false;
    if (obj == nullptr) {
        WriteTag(archive, SLRefTag::NullRef);
        return !archive.Failed();
    }
    std::uint32_t identity = archive.Objects.FindIdentity(obj);
    // An object that only its identity has named so far is written now.
    const bool namedOnly = identity != 0 && !archive.namedOnly.empty() && archive.namedOnly.count(obj) != 0;
    if (identity != 0 && !namedOnly) {
        WriteTag(archive, SLRefTag::BackRef);
        SLWriteSize(archive, &identity);
        return !archive.Failed();
    }

    // No class name exists for an object without a record; a depth beyond the
    // limit could not be loaded back.
    const TSLClassRecord* record = obj->GetClassRecord();
    if (record == nullptr || record->Id < 1) {
        archive.Fail(TSLFailure::Unsaveable,
                     record == nullptr
                         ? "an object without a class record (a bare TKavSLRoot) has no class name to save"
                         : "class " + Quoted(record->Name) + " has no class id to save");
        return false;
    }
    if (TooDeep(archive)) {
        archive.Fail(TSLFailure::DepthLimit, DepthMessage(archive));
        return false;
    }
    if (namedOnly) {
        archive.namedOnly.erase(obj);
    } else {
        identity = archive.Objects.NewIdentity();
        if (identity == 0) {
            archive.Fail(TSLFailure::Unsaveable, "the archive has given out all 4294967295 identities");
            return false;
        }
        archive.Objects.Insert(identity, obj);
    }

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

    const TNesting nesting(archive, record->Name);
    obj->SavePre(archive);
    if (!archive.Failed()) obj->Save(archive);
    if (!archive.Failed()) obj->SavePost(archive);
    return !archive.Failed();
}

bool TSLGraphCoder::Load(TSLArchive& archive, void* place, TSLStore store) {
    Use(archive, TSLArchive::TDirection::Loading);
    if (archive.Failed()) {
        store(place, nullptr);
        return false;
    }
    if (!archive.CanCode()) {
        store(place, nullptr);
        archive.Fail(TSLFailure::CannotCode,
                     archive.Stream == nullptr
                         ? std::string("an archive without a stream has no reference to load")
                         : "an archive of Coding " + std::to_string(archive.Coding) +
                               " reads nothing: its Coding is 0 (text) or 1 (binary)");
        return false;
    }
    const std::size_t mark = archive.loaded.size();
    const bool outermost = archive.nesting.empty();
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
    // Failures found in a record are reported at the record's first byte.
    const std::int64_t start = archive.Stream != nullptr ? archive.Stream->Tell() : -1;
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
            if (obj == nullptr)
                archive.Fail(TSLFailure::UnknownIdentity,
                             "a back-reference to identity " + std::to_string(identity) +
                                 ", which no earlier record of the archive holds",
                             start);
            else if (!store(place, obj))
                archive.Fail(TSLFailure::TypeMismatch,
                             "a back-reference to identity " + std::to_string(identity) + ", a " +
                                 ClassOf(obj) + ", where the reference cannot hold that class",
                             start);
            return;
        }
        case SLRefTag::KnownClassRef: {
            std::int32_t classId = 0;
            SLReadInt(archive, &classId);
            if (archive.Failed()) return;
            const TSLClassRecord* met = archive.Classes.FindById(classId);
            if (met == nullptr) {
                archive.Fail(TSLFailure::UnknownClassId,
                             "an object of class id " + std::to_string(classId) +
                                 ", which no earlier record of the archive named",
                             start);
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
                archive.Fail(TSLFailure::BadClassId,
                             "class " + Quoted(name) + " is named with the id " + std::to_string(classId) +
                                 "; class ids start at 1",
                             start);
                return;
            }
            TSLClassRecord met;
            met.Name = name;
            met.Id = classId;
            className = &archive.Classes.Register(std::move(met))->Name;
            break;
        }
        default:
            archive.Fail(
                TSLFailure::BadTag,
                "a reference record with the tag " + std::to_string(tag) +
                    "; its tag must be 1 (back-reference), 2 (known class), 3 (new class) or 4 (null)",
                start);
            return;
    }
    if (archive.Failed()) return;

    // Only new objects nest deeper: null and back references end the descent.
    const TKavSLRegister* registry = TKavSLRegister::Instance();
    const TSLClassRecord* record = registry != nullptr ? registry->FindByName(*className) : nullptr;
    if (record == nullptr) {
        archive.Fail(
            TSLFailure::UnknownClassName,
            "class " + Quoted(*className) +
                " is not registered in this process. A class is registered by the first call of "
                "its static ClassRecord() accessor (SLRegisterClass); the start-up unit "
                "(framework/startup.cpp) makes that call for every framework class before main, and a "
                "class of your own must make it the same way before an archive that names it is "
                "loaded",
            start);
        return;
    }
    if (record->Factory == nullptr) {
        archive.Fail(TSLFailure::FactoryFailed,
                     "class " + Quoted(*className) + " is registered without a factory to create it", start);
        return;
    }
    if (archive.Objects.FindObject(identity) != nullptr) {
        archive.Fail(TSLFailure::DuplicateIdentity,
                     "a new object of class " + Quoted(*className) + " under identity " +
                         std::to_string(identity) + ", which an earlier record of the archive holds",
                     start);
        return;
    }
    if (TooDeep(archive)) {
        archive.Fail(TSLFailure::DepthLimit, DepthMessage(archive), start);
        return;
    }
    // Room for the new object before it exists, so that recording it cannot
    // throw. The list doubles: growing it by one each time would copy it
    // once per object.
    std::vector<TKavSLRoot*>& loaded = archive.loaded;
    if (loaded.size() == loaded.capacity()) loaded.reserve(loaded.empty() ? 16 : 2 * loaded.capacity());
    TKavSLRoot* const obj = record->Factory();
    if (obj == nullptr) {
        archive.Fail(TSLFailure::FactoryFailed,
                     "the factory of class " + Quoted(*className) + " made no object (no memory)", start);
        return;
    }
    archive.loaded.push_back(obj);
    if (!store(place, obj)) {
        archive.Fail(TSLFailure::TypeMismatch,
                     "an object of class " + Quoted(*className) + ", which the reference cannot hold", start);
        return;
    }
    archive.Objects.Insert(identity, obj);

    const TNesting nesting(archive, record->Name);
    obj->LoadPre(archive);
    if (!archive.Failed()) obj->Load(archive);
    if (!archive.Failed()) obj->LoadPost(archive);
}

bool TSLGraphCoder::SaveIdentity(TSLArchive& archive, TKavSLRoot* obj) {
    Use(archive, TSLArchive::TDirection::Saving);
    if (archive.Failed()) return false;
    std::uint32_t identity = 0;
    if (obj != nullptr) {
        identity = archive.Objects.FindIdentity(obj);
        if (identity == 0) {
            identity = archive.Objects.NewIdentity();
            if (identity == 0) {
                archive.Fail(TSLFailure::Unsaveable, "the archive has given out all 4294967295 identities");
                return false;
            }
            archive.Objects.Insert(identity, obj);
            archive.namedOnly.insert(obj);
        }
    }
    SLWriteSize(archive, &identity);
    return !archive.Failed();
}

bool TSLGraphCoder::LoadIdentity(TSLArchive& archive, std::uint32_t* identity) {
    Use(archive, TSLArchive::TDirection::Loading);
    SLReadSize(archive, identity);
    return !archive.Failed();
}

bool SLSaveObject(TSLArchive& archive, TKavSLRoot* const* ref) {
    KAV_CONTRACT(ref != nullptr, "SLSaveObject needs the place of a reference");
    return TSLGraphCoder::Save(archive, *ref);
}

bool SLLoadObjectInto(TSLArchive& archive, void* place, TSLStore store) {
    KAV_CONTRACT(place != nullptr && store != nullptr,
                 "SLLoadObject needs a place and a way to store into it");
    return TSLGraphCoder::Load(archive, place, store);
}

bool SLLoadObject(TSLArchive& archive, TKavSLRoot** ref) {
    return SLLoadObjectInto(archive, ref, &SLStoreAs<TKavSLRoot>);
}

bool SLSaveObjectIdentity(TSLArchive& archive, TKavSLRoot* const* ref) {
    KAV_CONTRACT(ref != nullptr, "SLSaveObjectIdentity needs the place of a reference");
    return TSLGraphCoder::SaveIdentity(archive, *ref);
}

bool SLLoadObjectIdentity(TSLArchive& archive, std::uint32_t* identity) {
    KAV_CONTRACT(identity != nullptr, "SLLoadObjectIdentity needs a place for the identity");
    return TSLGraphCoder::LoadIdentity(archive, identity);
}

}  // namespace KavV3Base
