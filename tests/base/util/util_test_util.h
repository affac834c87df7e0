// Helpers for the utility class tests: archives in memory, run for both codings.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/archive.h"
#include "base/sl/kav_sl.h"
#include "base/sl/object_graph.h"
#include "base/stream/memory_stream.h"

namespace KavUtilTest {

using TBytes = std::vector<unsigned char>;

// Runs body(coding) once for the text and once for the binary coding.
template <class F>
void ForBothCodings(F body) {
    for (const std::int32_t coding :
         {KavV3Base::TSLArchive::CodingText, KavV3Base::TSLArchive::CodingBinary}) {
        SCOPED_TRACE(coding == KavV3Base::TSLArchive::CodingText ? "text coding" : "binary coding");
        body(coding);
    }
}

// The bytes of saving each root in turn into one fresh archive.
inline TBytes SaveGraphs(std::initializer_list<KavV3Base::TKavSLRoot*> roots, std::int32_t coding,
                         std::int32_t referenceMode = KavV3Base::TSLArchive::ReferenceInline) {
    KavV3Base::TMemoryStream stream;
    KavV3Base::TSLArchive archive(&stream, coding, referenceMode);
    for (KavV3Base::TKavSLRoot* root : roots) EXPECT_TRUE(KavV3Base::SLSaveObject(archive, &root));
    return stream.Bytes();
}

inline TBytes SaveGraph(KavV3Base::TKavSLRoot* root, std::int32_t coding) {
    return SaveGraphs({root}, coding);
}

// Loads one reference of type T from bytes; null when the load failed.
template <class T>
T* LoadGraph(const TBytes& bytes, std::int32_t coding) {
    KavV3Base::TMemoryStream stream(bytes);
    KavV3Base::TSLArchive archive(&stream, coding);
    T* loaded = nullptr;
    return KavV3Base::SLLoadObject(archive, &loaded) ? loaded : nullptr;
}

// Writes the header of an object record by hand (a new class), as an archive
// from another writer would hold it, so that tests can put values in the
// body that the classes themselves never save.
inline void WriteRecordHeader(KavV3Base::TSLArchive& archive, const char* className, std::int32_t classId,
                              std::uint32_t identity) {
    const std::int32_t tag = KavV3Base::SLRefTag::NewClassRef;
    const KavV3Base::TString name(className);
    KavV3Base::SLWriteInt(archive, &tag);
    KavV3Base::SLWriteString(archive, &name);
    KavV3Base::SLWriteInt(archive, &classId);
    KavV3Base::SLWriteSize(archive, &identity);
}

inline std::string AsText(const TBytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace KavUtilTest
