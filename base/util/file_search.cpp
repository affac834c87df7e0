#include "base/util/file_search.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "base/sl/archive.h"
#include "base/stream/file_stream.h"

namespace KavV3Base {

namespace {

// Opens candidate for reading and closes it again; nothing is read. Some C
// runtimes open a directory for reading too: a directory is no file, so it
// counts as not opened, as it does where the open itself fails.
bool Opens(const TString& candidate) {
    TFileStream probe;
    if (!probe.Open(candidate.CStr(), TFileStream::ModeRead)) return false;
    // Close reports lost writes; a stream that only opened for reading has
    // none, and the open alone is what the probe asks about.
    static_cast<void>(probe.Close());
    std::error_code error;
    return !std::filesystem::is_directory(std::filesystem::path(candidate.CStr()), error);
}

}  // namespace

const TSLClassRecord* TFileSearch::GetClassRecord() { return ClassRecord(); }

void TFileSearch::Save(TSLArchive& archive) {
    TKavSL::Save(archive);
    if (SkipFields(archive) != 0) return;
    const auto count = static_cast<std::uint32_t>(paths.Count());
    SLWriteSize(archive, &count);
    for (const TString& prefix : paths) SLWriteString(archive, &prefix);
}

void TFileSearch::Load(TSLArchive& archive) {
    TKavSL::Load(archive);
    if (SkipFields(archive) != 0 || !archive.CanCode()) return;
    paths.Clear();
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    // One prefix at a time: a count the stream cannot hold ends at the first
    // string that is not there.
    for (std::uint32_t i = 0; i < count && !archive.Failed(); ++i) {
        // Read in place, so the text is not copied once more into the list.
        paths.PushBack(TString());
        SLReadString(archive, &paths.Back());
        if (archive.Failed()) paths.Erase(--paths.end());
    }
}

void TFileSearch::AddPath(const TString& prefix) { paths.PushFront(prefix); }

void TFileSearch::RemovePath(const TString& prefix) {
    for (auto it = paths.begin(); it != paths.end();) {
        if (*it == prefix)
            it = paths.Erase(it);
        else
            ++it;
    }
}

TFileSearch::TPathList& TFileSearch::GetPaths() { return paths; }

int TFileSearch::Find(const TString& name, TString* found) {
    // The bare name is probed first; an empty one names no file.
    if (name.Length() == 0) return 0;
    if (Opens(name)) {
        if (found != nullptr) *found = name;
        return 1;
    }
    for (const TString& prefix : paths) {
        const TString candidate = prefix + name;
        if (Opens(candidate)) {
            if (found != nullptr) *found = candidate;
            return 1;
        }
    }
    return 0;
}

const TSLClassRecord* TFileSearch::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return SLRegisterClass(cache, "TFileSearch", &TKavSL::ClassRecord, &TFileSearch::NewInstance);
}

TKavSLRoot* TFileSearch::NewInstance() { return SLNewInstance<TFileSearch>(); }

}  // namespace KavV3Base
