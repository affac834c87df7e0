// SLSaveObject and SLLoadObject, which code references between serializable objects, and the identity-only
// coding.
#pragma once

#include <cstdint>
#include <type_traits>

#include "base/contract.h"
#include "base/sl/archive.h"
#include "base/sl/kav_sl.h"

namespace KavV3Base {

// The first value of every reference record (SLWriteInt), and what follows:
namespace SLRefTag {
inline constexpr std::int32_t BackRef = 1;        // identity: an object written earlier in the archive
inline constexpr std::int32_t KnownClassRef = 2;  // class id, identity, the object's body
inline constexpr std::int32_t NewClassRef = 3;    // class name, class id, identity, the body
inline constexpr std::int32_t NullRef = 4;        // nothing: a null reference
}  // namespace SLRefTag

// Writes the reference held at *ref. A null reference is NullRef; an object
// met before in this archive is a BackRef to its identity; any other object
// gets the next identity of the archive, recorded before anything of it is
// written (so references back to it from inside its own body become
// BackRefs), then a NewClassRef (class name and id, the first object of its
// class in this archive) or a KnownClassRef (class id only), its identity,
// and its body: SavePre, Save and SavePost.
//
// Refused, with the archive failed and nothing written for the object, when
// the object has no class record (a bare TKavSLRoot, Unsaveable) or the
// nesting gets deeper than the archive allows (DepthLimit). Returns false when
// the archive has failed, here or before; inside a Save phase a false result
// means the object's remaining fields need not be written.
//
// ref must not be null, and the archive must not have loaded objects.
[[nodiscard]] bool SLSaveObject(TSLArchive& archive, TKavSLRoot* const* ref);

// Stores *place = obj as the place's type allows; false (nothing stored)
// when obj is not null and not of that type (the load fails: TypeMismatch).
using TSLStore = bool (*)(void* place, TKavSLRoot* obj);

// Reads one reference record and stores the reference through store. A new
// object is created by the factory of the process registry's class of that
// name (class ids are translated through the archive's class table, so they
// need not match the loading process's ids); it is stored and recorded under
// its identity before its body is loaded (LoadPre, Load, LoadPost), so
// references back to it from inside resolve to it.
//
// A malformed record fails the archive, and TSLArchive::GetFailure tells
// which way: a tag other than 1 to 4 (BadTag), an identity or class id the
// archive has not met (UnknownIdentity, UnknownClassId), a class id below 1
// (BadClassId), an identity met twice (DuplicateIdentity), a class name the
// registry does not know (UnknownClassName), an object of the wrong type for
// the place (TypeMismatch), a factory that returns null (FactoryFailed), a
// stream that ends early (EndOfStream), nesting deeper than the archive
// allows (DepthLimit), an archive without a stream or coding (CannotCode).
// The place is then left null and false returned; the outermost failing call
// deletes every object it created (see TSLArchive::DiscardLoadedObjects)
// before returning.
//
// place and store must not be null, and the archive must not have saved
// objects.
[[nodiscard]] bool SLLoadObjectInto(TSLArchive& archive, void* place, TSLStore store);
// Any object: the place receives whatever the record names.
[[nodiscard]] bool SLLoadObject(TSLArchive& archive, TKavSLRoot** ref);

template <class T>
[[nodiscard]] bool SLStoreAs(void* place, TKavSLRoot* obj) {
    T* typed = dynamic_cast<T*>(obj);
    if (obj != nullptr && typed == nullptr) return false;
    *static_cast<T**>(place) = typed;
    return true;
}

// Typed forms for a reference of any serializable class type. Loading checks
// that the object really is a T.
template <class T>
[[nodiscard]] bool SLSaveObject(TSLArchive& archive, T* const* ref) {
    static_assert(std::is_base_of_v<TKavSLRoot, T>, "references to serializable objects only");
    KAV_CONTRACT(ref != nullptr, "SLSaveObject needs the place of a reference");
    TKavSLRoot* const obj = *ref;
    return SLSaveObject(archive, &obj);
}

template <class T>
[[nodiscard]] bool SLLoadObject(TSLArchive& archive, T** ref) {
    static_assert(std::is_base_of_v<TKavSLRoot, T>, "references to serializable objects only");
    return SLLoadObjectInto(archive, ref, &SLStoreAs<T>);
}

// Identity-only coding, for references that must not pull the referenced
// object into the archive (used when the archive's ReferenceMode is not
// ReferenceInline). Saving writes the object's identity with SLWriteSize,
// giving the object one and recording it in Objects when it has none yet; a
// null reference is identity 0. Loading reads the identity back; the caller
// resolves it through archive.Objects of an archive in which the object
// itself was loaded (FindObject). An object named here before it was saved
// inline gets its full record, under the same identity, at its first inline
// save. Both return false when the archive has failed.
[[nodiscard]] bool SLSaveObjectIdentity(TSLArchive& archive, TKavSLRoot* const* ref);
[[nodiscard]] bool SLLoadObjectIdentity(TSLArchive& archive, std::uint32_t* identity);

template <class T>
[[nodiscard]] bool SLSaveObjectIdentity(TSLArchive& archive, T* const* ref) {
    static_assert(std::is_base_of_v<TKavSLRoot, T>, "references to serializable objects only");
    KAV_CONTRACT(ref != nullptr, "SLSaveObjectIdentity needs the place of a reference");
    TKavSLRoot* const obj = *ref;
    return SLSaveObjectIdentity(archive, &obj);
}

}  // namespace KavV3Base
