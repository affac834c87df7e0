// Helpers for the object model tests: archives in memory and a test class that owns what it references.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/sl/archive.h"
#include "base/sl/kav_sl.h"
#include "base/sl/object_graph.h"
#include "base/stream/memory_stream.h"

namespace KavTest {

// Owns a list of references, like a tree owns its children: the destructor
// deletes them, so only a tree-shaped graph may be deleted through it.
// Counts its live instances.
class TSLTestOwner : public KavV3Base::TKavSL {
public:
    TSLTestOwner() { ++live; }
    ~TSLTestOwner() override;

    const KavV3Base::TSLClassRecord* GetClassRecord() override { return ClassRecord(); }
    void Save(KavV3Base::TSLArchive& archive) override;
    void Load(KavV3Base::TSLArchive& archive) override;
    void SLDiscardLinks() override { children.clear(); }

    static const KavV3Base::TSLClassRecord* ClassRecord();

    std::vector<KavV3Base::TKavSL*> children;
    static inline std::atomic<int> live{0};
};

// The bytes of a memory stream as a string, for comparing text archives.
inline std::string AsText(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
inline std::vector<unsigned char> AsBytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

// Saves one reference into a fresh archive; *saved tells whether it worked.
std::vector<unsigned char> SaveGraph(KavV3Base::TKavSLRoot* root, std::int32_t coding, bool* saved = nullptr);

}  // namespace KavTest
