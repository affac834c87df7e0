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

// Builds the expected bytes of archive values, value by value, in either
// coding, the way the archive's value coders write them.
class TCoded {
public:
    explicit TCoded(std::int32_t codingIn) : coding(codingIn) {}
    // A 32-bit value (SLWriteInt, SLWriteUInt, SLWriteSize): four bytes, or
    // its decimal line (v is given with its sign as the coder prints it).
    TCoded& Int(std::int64_t v) { return Number(v, 4); }
    // SLWriteByte: one byte, or its decimal line.
    TCoded& Byte(std::uint8_t v) { return Number(v, 1); }
    // SLWriteString: the characters and a NUL, or the quoted, escaped line.
    TCoded& Str(const std::string& s);
    // Raw bytes, for malformed input.
    TCoded& Raw(const std::string& s) {
        bytes += s;
        return *this;
    }

    std::int32_t coding;
    std::string bytes;

private:
    TCoded& Number(std::int64_t v, int width);
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
