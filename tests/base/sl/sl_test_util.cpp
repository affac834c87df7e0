#include "tests/base/sl/sl_test_util.h"

namespace KavTest {

using namespace KavV3Base;

TSLTestOwner::~TSLTestOwner() {
    for (TKavSL* child : children) delete child;
    --live;
}

void TSLTestOwner::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    if (SkipFields(archive) != 0) return;
    const auto count = static_cast<std::uint32_t>(children.size());
    SLWriteSize(archive, &count);
    for (TKavSL* child : children)
        if (!SLSaveObject(archive, &child)) return;
}

void TSLTestOwner::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    if (SkipFields(archive) != 0) return;
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    // A hostile count only costs reads until the archive fails.
    for (std::uint32_t i = 0; i < count && !archive.Failed(); ++i) {
        TKavSL* child = nullptr;
        if (SLLoadObject(archive, &child)) children.push_back(child);
    }
}

const TSLClassRecord* TSLTestOwner::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TSLTestOwner", &TKavSL::ClassRecord, &SLNewInstance<TSLTestOwner>);
}

TCoded& TCoded::Number(std::int64_t v, int width) {
    if (coding == TSLArchive::CodingText) {
        bytes += std::to_string(v) + "\n";
    } else {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF));
    }
    return *this;
}

TCoded& TCoded::Str(const std::string& s) {
    if (coding != TSLArchive::CodingText) {
        bytes += s;
        bytes.push_back('\0');
        return *this;
    }
    bytes.push_back('"');
    for (const char c : s) {
        if (c == '"' || c == '\\') bytes.push_back('\\');
        bytes.push_back(c);
    }
    bytes += "\"\n";
    return *this;
}

std::vector<unsigned char> SaveGraph(TKavSLRoot* root, std::int32_t coding, bool* saved) {
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    const bool ok = SLSaveObject(archive, &root);
    if (saved != nullptr) *saved = ok;
    return stream.Bytes();
}

}  // namespace KavTest
